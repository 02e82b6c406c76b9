// The answers to the post-actions' questions given in a file, one a line,
// taken in order.
#pragma once

#include <deque>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

#include "locale_text.h"

namespace dorvik::cli {

class AnswerFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class AnswerFile {
 public:
  AnswerFile() = default;
  // Reads every line (locale encoding, LF or CR LF) into code page 1251.
  // Throws AnswerFileError naming the file and line when it cannot.
  AnswerFile(const std::filesystem::path& file, const LocaleText& text);

  // The next answer and its line number; nothing when all are used.
  std::optional<std::string> Next();
  int LineNumber() const { return taken_; }

 private:
  std::deque<std::string> lines_;
  int taken_ = 0;
};

}  // namespace dorvik::cli

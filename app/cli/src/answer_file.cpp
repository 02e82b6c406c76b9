#include "answer_file.h"

#include <fstream>

#include "cli_texts.h"
#include "distribution/codepage.h"

namespace dorvik::cli {

AnswerFile::AnswerFile(const std::filesystem::path& file, const LocaleText& text) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw AnswerFileError(texts::AnswersFileUnopenable(file.string()));
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    try {
      lines_.push_back(text.Take(line));
    } catch (const TextConversionError& e) {
      throw AnswerFileError(texts::AnswerNotConvertible(file.string(), number, e.what()));
    }
  }
  if (in.bad()) throw AnswerFileError(texts::AnswersFileUnreadable(file.string()));
}

std::optional<std::string> AnswerFile::Next() {
  if (lines_.empty()) return std::nullopt;
  std::string answer = std::move(lines_.front());
  lines_.pop_front();
  ++taken_;
  return answer;
}

}  // namespace dorvik::cli

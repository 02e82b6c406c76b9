// The program's own read-only window for a text file: the install protocol
// (code page 1251, CR LF) or the distribution's readme, where the desktop
// cannot open them. Buttons copy the whole text or close the window; the
// file itself is only read.
#pragma once

#include <QDialog>
#include <QPlainTextEdit>
#include <QPushButton>
#include <filesystem>
#include <optional>
#include <string_view>

namespace dorvik {

enum class TextEncoding {
  Cp1251,        // the protocol, always
  Utf8OrCp1251,  // UTF-8 when the bytes are valid UTF-8, else code page 1251
};

// The bytes as text, line ends made "\n".
QString DecodeText(std::string_view bytes, TextEncoding encoding);
// The file's text; nothing when it cannot be read.
std::optional<QString> ReadTextFile(const std::filesystem::path& file, TextEncoding encoding);

class TfmViewer : public QDialog {
  Q_OBJECT

 public:
  // A dialog of `parent` (the wizard): the window manager keeps it in front
  // of that always-on-top window, and centres it there.
  TfmViewer(const std::filesystem::path& file, const QString& text, QWidget* parent = nullptr);

  QPlainTextEdit* mmText;
  QPushButton* btCopy;
  QPushButton* btClose;
};

}  // namespace dorvik

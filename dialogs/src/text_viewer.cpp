#include "dialogs/text_viewer.h"

#include <QClipboard>
#include <QDir>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QStringDecoder>
#include <QVBoxLayout>
#include <fstream>
#include <iterator>

#include "dialogs/qt_text.h"

namespace dorvik {

QString DecodeText(std::string_view bytes, TextEncoding encoding) {
  QString text;
  bool decoded = false;
  if (encoding == TextEncoding::Utf8OrCp1251) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    text = utf8.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    decoded = !utf8.hasError();
    if (decoded && text.startsWith(QChar(0xFEFF))) text.remove(0, 1);
  }
  if (!decoded) text = FromCore(bytes);
  text.replace("\r\n", "\n");
  text.replace(QChar('\r'), QChar('\n'));
  return text;
}

std::optional<QString> ReadTextFile(const std::filesystem::path& file, TextEncoding encoding) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return DecodeText(bytes, encoding);
}

TfmViewer::TfmViewer(const std::filesystem::path& file, const QString& text, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::WindowMaximizeButtonHint) {
  setObjectName("fmViewer");
  setWindowTitle(QDir::toNativeSeparators(QString::fromStdU16String(file.u16string())));
  resize(640, 440);

  mmText = new QPlainTextEdit(this);
  mmText->setObjectName("mmText");
  mmText->setReadOnly(true);
  mmText->setLineWrapMode(QPlainTextEdit::NoWrap);
  QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  fixed.setPixelSize(font().pixelSize() > 0 ? font().pixelSize() + 1 : 12);
  mmText->setFont(fixed);
  mmText->setPlainText(text);

  btCopy = new QPushButton(QString::fromUtf8("Копировать"), this);
  btCopy->setObjectName("btCopy");
  btCopy->setAutoDefault(false);
  connect(btCopy, &QPushButton::clicked, this,
          [this] { QGuiApplication::clipboard()->setText(mmText->toPlainText()); });
  btClose = new QPushButton(QString::fromUtf8("Закрыть"), this);
  btClose->setObjectName("btClose");
  btClose->setDefault(true);
  connect(btClose, &QPushButton::clicked, this, &QDialog::accept);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btCopy);
  buttons->addWidget(btClose);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(mmText, 1);
  layout->addLayout(buttons);
  btClose->setFocus();
}

}  // namespace dorvik

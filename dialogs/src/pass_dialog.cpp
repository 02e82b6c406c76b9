#include "dialogs/pass_dialog.h"

#include <QFontMetrics>
#include <QGroupBox>
#include <algorithm>

#include "dialogs/keep_restored.h"

namespace dorvik {

namespace {

constexpr int kDesignWidth = 202;
// What a window manager's title bar needs besides the title's text: its
// icon, its buttons and their margins.
constexpr int kTitleBarExtra = 130;

// Wide enough for the title in a window manager's title font, which is
// larger and bolder than the dialog's own.
int WidthForTitle(const QString& title, const QFont& dialogFont) {
  QFont titleFont = dialogFont;
  titleFont.setBold(true);
  titleFont.setPixelSize(std::max(14, dialogFont.pixelSize() * 5 / 4));
  return std::max(kDesignWidth, QFontMetrics(titleFont).horizontalAdvance(title) + kTitleBarExtra);
}

}  // namespace

TfmPass::TfmPass(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint) {
  setObjectName("fmPass");
  KeepRestored(this);
  setWindowTitle(QString::fromUtf8("Введите пароль"));
  const int width = WidthForTitle(windowTitle(), font());
  setFixedSize(width, 80);

  auto* group = new QGroupBox(QString::fromUtf8("Пароль на исходные тексты"), this);
  group->setGeometry(4, 0, width - 8, 49);

  edPass = new QLineEdit(group);
  edPass->setObjectName("edPass");
  edPass->setEchoMode(QLineEdit::Password);
  // Every typed character shows as "*".
  edPass->setStyleSheet("lineedit-password-character: 42;");
  edPass->setGeometry(8, 20, group->width() - 16, 21);

  Button2 = new QPushButton(QString::fromUtf8("ОК"), this);
  Button2->setObjectName("Button2");
  // The two buttons side by side in the middle, as in the designed width.
  const int left = (width - 2 * 87 - 10) / 2;
  Button2->setGeometry(left, 54, 87, 23);
  Button2->setDefault(true);
  connect(Button2, &QPushButton::clicked, this, &QDialog::accept);

  Button3 = new QPushButton(QString::fromUtf8("Отмена"), this);
  Button3->setObjectName("Button3");
  Button3->setGeometry(left + 97, 54, 87, 23);
  Button3->setAutoDefault(false);
  connect(Button3, &QPushButton::clicked, this, &QDialog::reject);
}

void TfmPass::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  edPass->setFocus();
}

}  // namespace dorvik

#include "dialogs/pass_dialog.h"

#include <QGroupBox>

namespace dorvik {

TfmPass::TfmPass(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint) {
  setObjectName("fmPass");
  setWindowTitle(QString::fromUtf8("Введите пароль"));
  setFixedSize(202, 80);
  move(319, 233);

  auto* group = new QGroupBox(QString::fromUtf8("Пароль на исходные тексты"), this);
  group->setGeometry(4, 0, 194, 49);

  edPass = new QLineEdit(group);
  edPass->setObjectName("edPass");
  edPass->setEchoMode(QLineEdit::Password);
  // Every typed character shows as "*".
  edPass->setStyleSheet("lineedit-password-character: 42;");
  edPass->setGeometry(8, 20, 121, 21);

  Button2 = new QPushButton(QString::fromUtf8("ОК"), this);
  Button2->setObjectName("Button2");
  Button2->setGeometry(9, 54, 87, 23);
  Button2->setDefault(true);
  connect(Button2, &QPushButton::clicked, this, &QDialog::accept);

  Button3 = new QPushButton(QString::fromUtf8("Отмена"), this);
  Button3->setObjectName("Button3");
  Button3->setGeometry(106, 54, 87, 23);
  Button3->setAutoDefault(false);
  connect(Button3, &QPushButton::clicked, this, &QDialog::reject);
}

void TfmPass::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  edPass->setFocus();
}

}  // namespace dorvik

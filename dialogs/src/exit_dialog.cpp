#include "dialogs/exit_dialog.h"

#include <QKeyEvent>
#include <QLabel>
#include <algorithm>

#include "dialogs/keep_restored.h"

namespace dorvik {

TfmExit::TfmExit(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint) {
  setObjectName("fmExit");
  KeepRestored(this);
  setWindowTitle(QString::fromUtf8("Выход из установки"));

  auto* text = new QLabel(this);
  text->setObjectName("mmExit");
  text->setTextFormat(Qt::PlainText);
  text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  text->setText(
      QString::fromUtf8("Установка не была завершена. Если вы выйдете \n"
                        "сейчас, дистрибутив не будет установлен.\n"
                        "\n"
                        "Для продолжения установки нажмите Продолжить\n"
                        "Для выхода нажмите Выход."));
  // The designed size, widened when the font's text needs more room.
  text->adjustSize();
  const int width = std::max(305, text->width() + 32);
  setFixedSize(width, 146);
  text->setGeometry(16, 8, width - 32, 89);

  OK = new QPushButton(QString::fromUtf8("Продолжить"), this);
  OK->setObjectName("OK");
  OK->setGeometry(width - 184, 114, 81, 25);
  OK->setDefault(true);
  connect(OK, &QPushButton::clicked, this, &QDialog::accept);

  Cancel = new QPushButton(QString::fromUtf8("Выход"), this);
  Cancel->setObjectName("Cancel");
  Cancel->setGeometry(width - 92, 114, 81, 25);
  Cancel->setAutoDefault(false);
  connect(Cancel, &QPushButton::clicked, this, &QDialog::reject);
}

// Esc chooses "Продолжить", like Enter; closing the window (reject) leaves.
void TfmExit::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TfmExit::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  OK->setFocus();
}

}  // namespace dorvik

// The exit confirmation. Accepted ("Продолжить", Enter, Esc) means stay;
// Rejected ("Выход" or the title-bar close button) means leave the program.
#pragma once

#include <QDialog>
#include <QPushButton>

namespace dorvik {

class TfmExit : public QDialog {
  Q_OBJECT

 public:
  explicit TfmExit(QWidget* parent = nullptr);

  QPushButton* OK;
  QPushButton* Cancel;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;
};

}  // namespace dorvik

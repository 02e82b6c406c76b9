// The source-password dialog. Its field keeps what was typed the previous
// time; the caller compares it after an accepted ("ОК") result.
#pragma once

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>

namespace dorvik {

class TfmPass : public QDialog {
  Q_OBJECT

 public:
  explicit TfmPass(QWidget* parent = nullptr);

  QLineEdit* edPass;
  QPushButton* Button2;
  QPushButton* Button3;

 protected:
  void showEvent(QShowEvent* event) override;
};

}  // namespace dorvik

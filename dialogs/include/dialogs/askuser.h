// The question dialog: a question from a post-action and a line of text for
// the answer.
#pragma once

#include <QDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRect>

namespace dorvik {

// How many lines the question takes in a label `width` wide: greedy
// counting of the words (split at single blanks), a word wider than the
// label taking a line of its own.
int CountQuestionLines(const QString& question, const QFontMetrics& metrics, int width);

class TfmAskUser : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kDesignWidth = 177;
  static constexpr int kDesignHeight = 79;
  static constexpr int kLabelWidth = 161;
  static constexpr int kLineHeight = 13;

  explicit TfmAskUser(QWidget* parent = nullptr);
  // Fills the dialog and sizes it to the question.
  void Prepare(const QString& question, const QString& caption, const QString& defaultAnswer);
  int Lines() const { return lines_; }

  QLabel* lbAsk;
  QLineEdit* edAsk;
  QPushButton* Button1;
  QPushButton* Button2;

 private:
  int lines_ = 1;
};

// Asks modally; the text typed when the user pressed "OK", "" otherwise.
// The dialog stays in front of `parent` (the progress window, which keeps
// itself above the others), when one is given, and opens clear of
// `keepVisible` (a screen rectangle) when that is given.
QString AskUser(const QString& question, const QString& caption, const QString& defaultAnswer,
                QWidget* parent = nullptr, const QRect& keepVisible = QRect());

}  // namespace dorvik

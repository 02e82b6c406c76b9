#include "dialogs/askuser.h"

#include <QFrame>

#include "dialogs/keep_restored.h"
#include "dialogs/placement.h"
#include <memory>

namespace dorvik {

int CountQuestionLines(const QString& question, const QFontMetrics& metrics, int width) {
  int lines = 1;
  int used = 0;
  for (const QString& word : question.split(QChar(' '))) {
    const int alone = metrics.horizontalAdvance(word);
    if (alone > width) {
      ++lines;
      continue;
    }
    used += metrics.horizontalAdvance(word + QChar(' '));
    if (used > width) {
      ++lines;
      used = alone;
    }
  }
  return lines;
}

TfmAskUser::TfmAskUser(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
  setObjectName("fmAskUser");
  KeepRestored(this);
  setWindowTitle(QString::fromUtf8("Введите ответ"));
  setFixedSize(kDesignWidth, kDesignHeight);

  auto* panel = new QFrame(this);
  panel->setObjectName("Panel1");
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  panel->setGeometry(0, 0, kDesignWidth, kDesignHeight);

  Button1 = new QPushButton("OK", this);
  Button1->setObjectName("Button1");
  Button1->setGeometry(6, 48, 75, 24);
  Button1->setDefault(true);
  connect(Button1, &QPushButton::clicked, this, &QDialog::accept);

  Button2 = new QPushButton(QString::fromUtf8("Отмена"), this);
  Button2->setObjectName("Button2");
  Button2->setGeometry(94, 48, 75, 24);
  connect(Button2, &QPushButton::clicked, this, &QDialog::reject);

  lbAsk = new QLabel(QString::fromUtf8("Вопрос"), this);
  lbAsk->setObjectName("lbAsk");
  lbAsk->setGeometry(8, 8, kLabelWidth, kLineHeight);
  lbAsk->setWordWrap(true);
  lbAsk->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  lbAsk->setTextFormat(Qt::PlainText);

  edAsk = new QLineEdit(this);
  edAsk->setObjectName("edAsk");
  edAsk->setGeometry(7, 24, kLabelWidth, 21);

  // "OK" first, then "Отмена", then the field: the dialog opens with the
  // focus on "OK", so Enter accepts the offered answer at once.
  setTabOrder(Button1, Button2);
  setTabOrder(Button2, edAsk);
  Button1->setFocus();
}

void TfmAskUser::Prepare(const QString& question, const QString& caption, const QString& defaultAnswer) {
  if (!caption.isEmpty()) setWindowTitle(caption);
  if (!defaultAnswer.isEmpty()) edAsk->setText(defaultAnswer);

  lines_ = CountQuestionLines(question, lbAsk->fontMetrics(), kLabelWidth);
  QString shown;
  for (const QString& word : question.split(QChar(' '))) shown += word + QChar(' ');
  lbAsk->setText(shown);

  const int extra = lines_ - 1;
  const int shift = extra * kLineHeight + 2;
  setFixedSize(kDesignWidth, kDesignHeight + extra * kLineHeight);
  findChild<QFrame*>("Panel1")->resize(width(), height());
  lbAsk->resize(kLabelWidth, kLineHeight * lines_);
  for (QWidget* w : {static_cast<QWidget*>(Button1), static_cast<QWidget*>(Button2), static_cast<QWidget*>(edAsk)}) {
    w->move(w->x(), w->y() + shift);
  }
}

QString AskUser(const QString& question, const QString& caption, const QString& defaultAnswer, QWidget* parent,
                const QRect& keepVisible) {
  QString answer;
  try {
    auto dialog = std::make_unique<TfmAskUser>(parent);
    dialog->Prepare(question, caption, defaultAnswer);
    MoveClearOf(dialog.get(), keepVisible);
    if (dialog->exec() == QDialog::Accepted) answer = dialog->edAsk->text();
  } catch (...) {
    // A failure closes the dialog; the answer is what was reached.
  }
  return answer;
}

}  // namespace dorvik

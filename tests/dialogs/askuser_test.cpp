// The question dialog: its growth with the question's lines, and its
// answers.
#include <QtTest>

#include "dialogs/askuser.h"
#include "modal_script.h"

using namespace dorvik;

namespace {

// A word between half and the whole of the label's width.
QString HalfLineWord(const QFontMetrics& m) {
  QString word = "ш";
  while (m.horizontalAdvance(word) <= TfmAskUser::kLabelWidth / 2 + 4) word += "ш";
  return word;
}

}  // namespace

class AskUserTest : public QObject {
  Q_OBJECT

 private slots:
  void OneLineQuestionKeepsTheHeight() {
    TfmAskUser dialog;
    dialog.Prepare("Имя?", "", "");
    QCOMPARE(dialog.Lines(), 1);
    QCOMPARE(dialog.height(), 79);
    QCOMPARE(dialog.edAsk->y(), 26);
    QCOMPARE(dialog.Button1->y(), 50);
    QCOMPARE(dialog.Button2->y(), 50);
    QCOMPARE(dialog.lbAsk->height(), 13);
    QCOMPARE(dialog.lbAsk->text(), QString("Имя? "));
    QCOMPARE(dialog.windowTitle(), QString::fromUtf8("Введите ответ"));
    QCOMPARE(dialog.edAsk->text(), QString());
  }

  void ThreeLineQuestionGrows() {
    TfmAskUser dialog;
    const QString word = HalfLineWord(dialog.lbAsk->fontMetrics());
    dialog.Prepare(word + " " + word + " " + word, "Установка", "да");
    QCOMPARE(dialog.Lines(), 3);
    QCOMPARE(dialog.height(), 79 + 26);
    QCOMPARE(dialog.edAsk->y(), 24 + 28);
    QCOMPARE(dialog.Button1->y(), 48 + 28);
    QCOMPARE(dialog.lbAsk->height(), 39);
    QCOMPARE(dialog.windowTitle(), QString::fromUtf8("Установка"));
    QCOMPARE(dialog.edAsk->text(), QString::fromUtf8("да"));
  }

  void LineCountingRules() {
    const QFontMetrics m(QApplication::font());
    const int w = TfmAskUser::kLabelWidth;
    QString wide = "Ш";
    while (m.horizontalAdvance(wide) <= w) wide += "Ш";
    // A word wider than the label needs a line of its own.
    QCOMPARE(CountQuestionLines(wide, m, w), 2);
    QCOMPARE(CountQuestionLines("a " + wide + " b", m, w), 2);
    // Two blanks make an empty word, which still takes a blank's width.
    QCOMPARE(CountQuestionLines("a  b", m, w), 1);
    QCOMPARE(CountQuestionLines("", m, w), 1);
  }

  void OnlyOkGivesTheText() {
    {
      dorvik_test::ModalScript script;
      script.Then([](QWidget* w) {
        auto* d = static_cast<TfmAskUser*>(w);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(d->Button1));
        QTest::keyClick(d->Button1, Qt::Key_Return);  // Enter takes the offered answer
      });
      QCOMPARE(AskUser("Имя?", "", "anon"), QString("anon"));
    }
    {
      dorvik_test::ModalScript script;
      script.Then([](QWidget* w) {
        auto* d = static_cast<TfmAskUser*>(w);
        d->edAsk->setText("typed");
        d->Button2->click();
      });
      QCOMPARE(AskUser("Имя?", "", "anon"), QString());
    }
    {
      dorvik_test::ModalScript script;
      script.Then([](QWidget* w) {
        static_cast<TfmAskUser*>(w)->edAsk->setText("typed");
        QTest::keyClick(w, Qt::Key_Escape);
      });
      QCOMPARE(AskUser("Имя?", "", ""), QString());
    }
    {
      dorvik_test::ModalScript script;
      script.Then([](QWidget* w) {
        static_cast<TfmAskUser*>(w)->edAsk->setText("typed");
        w->close();
      });
      QCOMPARE(AskUser("Имя?", "", ""), QString());
    }
  }
};

DORVIK_QT_TEST_MAIN(AskUserTest)
#include "askuser_test.moc"

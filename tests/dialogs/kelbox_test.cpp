// The message box: its size from the message and the captions, the button
// row, the focus button, Esc, the icon and the failure report.
#include <QtTest>
#include <filesystem>
#include <fstream>

#include "dialogs/kelbox.h"
#include "dialogs/qt_text.h"
#include "distribution/codepage.h"
#include "modal_script.h"

using namespace dorvik;

namespace {

KelboxRequest Request(const char* message, const char* buttons) {
  KelboxRequest r;
  r.message = Ru(message);
  r.buttons = Ru(buttons);
  return r;
}

void CheckRowCentred(const KelboxGeometry& g) {
  const int rowLeft = g.buttons.front().left() - 20;
  const int rowRight = g.buttons.back().right() + 1 + 20;
  const int slack = g.windowWidth - (rowRight - rowLeft);
  QCOMPARE(rowLeft, slack / 2);
}

}  // namespace

class KelboxTest : public QObject {
  Q_OBJECT

 private slots:
  void TwoCaptionsGiveEqualCentredButtons() {
    TfmBox box;
    box.Prepare(Request("Продолжить?", "Да_Нет"));
    const KelboxGeometry& g = box.Geometry();
    QCOMPARE(int(box.Buttons().size()), 2);
    QCOMPARE(box.Buttons()[0]->text(), QString::fromUtf8("Да"));
    QCOMPARE(box.Buttons()[1]->text(), QString::fromUtf8("Нет"));
    QVERIFY(g.buttonWidth >= 50);
    for (QPushButton* b : box.Buttons()) {
      QCOMPARE(b->width(), g.buttonWidth);
      QCOMPARE(b->y(), 50);
    }
    QCOMPARE(box.Buttons()[1]->x() - box.Buttons()[0]->x(), g.buttonWidth + 5);
    CheckRowCentred(g);
    QCOMPARE(box.width(), g.windowWidth);
    QCOMPARE(box.height(), 85);
    QCOMPARE(box.windowTitle(), QString::fromUtf8("Сообщение"));  // empty caption keeps it
  }

  void LongMessageSetsTheWidth() {
    TfmBox box;
    const KelboxRequest r = Request("Это очень длинное сообщение, которое намного шире любой строки кнопок", "Да_Нет");
    box.Prepare(r);
    const int text = box.lbMes->fontMetrics().horizontalAdvance(FromCore(r.message));
    QCOMPARE(box.Geometry().windowWidth, text + 40);
    CheckRowCentred(box.Geometry());
    QCOMPARE(box.lbMes->width(), box.width());
  }

  void FixedWidthIsAtLeastForty() {
    KelboxRequest r = Request("?", "Один_Два_Три");
    r.buttonWidth = 30;
    const KelboxGeometry g = ComputeKelboxGeometry(r, QFontMetrics(QApplication::font()), false);
    QCOMPARE(int(g.buttons.size()), 3);
    for (const QRect& b : g.buttons) QCOMPARE(b.width(), 40);
    QCOMPARE(g.windowWidth, std::max(3 * 45 - 5 + 40, QFontMetrics(QApplication::font()).horizontalAdvance("?") + 40));
    // No captions at all still make one button.
    const KelboxGeometry one = ComputeKelboxGeometry(KelboxRequest{}, QFontMetrics(QApplication::font()), false);
    QCOMPARE(int(one.buttons.size()), 1);
    QCOMPARE(one.buttonWidth, 50);
  }

  void EscAndFocusDecideTheResult() {
    // Esc result 0: Esc does nothing, a button must be pressed.
    {
      KelboxRequest r = Request("Вопрос", "Да_Нет");
      dorvik_test::ModalScript script;
      script.Then([](QWidget* w) {
        QTest::keyClick(w, Qt::Key_Escape);
        QVERIFY(w->isVisible());
        static_cast<TfmBox*>(w)->Buttons()[1]->click();
      });
      QCOMPARE(RunKelbox(r), 2);
    }
    // Esc result 2.
    {
      KelboxRequest r = Request("Вопрос", "Да_Нет");
      r.escResult = 2;
      dorvik_test::ModalScript script;
      script.Then([](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); });
      QCOMPARE(RunKelbox(r), 2);
    }
    // Focus on the second button: Enter presses it.
    {
      KelboxRequest r = Request("Вопрос", "Да_Нет");
      r.focusButton = 2;
      r.caption = Ru("Установка");
      dorvik_test::ModalScript script;
      script.Then([](QWidget* w) {
        QCOMPARE(w->windowTitle(), QString::fromUtf8("Установка"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
      });
      QCOMPARE(RunKelbox(r), 2);
    }
  }

  // The title bar offers no minimise or maximise; closing the box is Esc:
  // the Esc result when there is one, otherwise the box stays.
  void TitleBarCloseIsEsc() {
    TfmBox plain;
    const Qt::WindowFlags flags = plain.windowFlags();
    QVERIFY(flags.testFlag(Qt::CustomizeWindowHint));
    QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowContextHelpButtonHint));
    struct Case {
      int escResult;
      int expected;  // 0: the close is refused and "Да" answers
    };
    for (const Case& c : {Case{2, 2}, Case{0, 0}}) {
      KelboxRequest r = Request("Заполнить справочники?", "Да_Нет");
      r.escResult = c.escResult;
      dorvik_test::ModalScript script;
      script.Then([c](QWidget* w) {
        QVERIFY(!w->close() || c.expected != 0);
        if (c.expected == 0) {
          QVERIFY(w->isVisible());
          static_cast<TfmBox*>(w)->Buttons()[0]->click();
        }
      });
      QCOMPARE(RunKelbox(r), c.expected == 0 ? 1 : c.expected);
      QVERIFY(script.Done());
    }
  }

  void IconFileDecidesTheMargins() {
    const auto folder = std::filesystem::temp_directory_path() / "kelbox-icon-test";
    std::filesystem::create_directories(folder);
    KelboxRequest r = Request("Сообщение с картинкой", "OK");
    r.iconFile = (folder / "missing.png").string();
    {
      TfmBox box;
      box.Prepare(r);
      QCOMPARE(box.Geometry().iconWidth, 0);
      QCOMPARE(box.Geometry().textLeftMargin, 20);
    }
    QImage icon(32, 32, QImage::Format_RGB32);
    icon.fill(Qt::red);
    r.iconFile = (folder / "icon.png").string();
    QVERIFY(icon.save(QString::fromStdString(r.iconFile)));
    {
      TfmBox box;
      box.Prepare(r);
      QCOMPARE(box.Geometry().iconWidth, 50);
      QCOMPARE(box.Geometry().textLeftMargin, 70);
      QCOMPARE(box.pnTop->height() >= 50, true);
      const int text = box.lbMes->fontMetrics().horizontalAdvance(FromCore(r.message));
      QCOMPARE(box.Geometry().windowWidth, std::max(text + 70 + 20, 50 + 40));
    }
    // A file that is not a picture is a failure with a clear message.
    r.iconFile = (folder / "broken.png").string();
    std::ofstream(r.iconFile) << "not a picture";
    try {
      RunKelbox(r);
      QFAIL("a broken icon was accepted");
    } catch (const std::runtime_error& e) {
      QVERIFY(QString(e.what()).startsWith("RunKelbox Error "));
      QVERIFY(QString(e.what()).contains("broken.png"));
    }
    std::filesystem::remove_all(folder);
  }

  // A post-action's question passes its default as the server wrote it: the
  // box converts it, blanks allowed, and fails on anything else.
  void FocusButtonGivenAsText() {
    KelboxRequest r = Request("Вопрос", "Да_Нет");
    r.focusButtonText = " 2 ";
    {
      dorvik_test::ModalScript script;
      script.Then([](QWidget*) { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return); });
      QCOMPARE(RunKelbox(r), 2);
    }
    for (const char* text : {"x", ""}) {
      r.focusButtonText = text;
      dorvik_test::ModalScript unexpected;
      unexpected.Then([](QWidget* w) { static_cast<QDialog*>(w)->done(9); });
      try {
        RunKelbox(r);
        QFAIL("a default that is not a number was accepted");
      } catch (const std::runtime_error& e) {
        QCOMPARE(QString(e.what()), QString("RunKelbox Error '%1' is not a valid integer value").arg(text));
      }
      QVERIFY(unexpected.Seen().isEmpty());
    }
  }
};

DORVIK_QT_TEST_MAIN(KelboxTest)
#include "kelbox_test.moc"

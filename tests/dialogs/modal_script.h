// Answering modal dialogs in tests: each step acts on the next modal window
// that opens (presses a button, types an answer), and every window seen is
// recorded with its title and text.
#pragma once

#include <QApplication>
#include <QFont>
#include <QLabel>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QtTest>
#include <deque>
#include <functional>
#include <vector>

namespace dorvik_test {

class ModalScript : public QObject {
 public:
  using Step = std::function<void(QWidget*)>;
  ModalScript();
  ModalScript& Then(Step step);
  // Presses a standard button of the next message box.
  ModalScript& Answer(QMessageBox::StandardButton button);
  bool Done() const { return steps_.empty(); }
  // "title|text" of each modal window the script acted on.
  const QStringList& Seen() const { return seen_; }

 private:
  void Tick();
  QTimer timer_;
  std::deque<Step> steps_;
  QStringList seen_;
  std::vector<QPointer<QWidget>> handled_;
};

// Clicks a child button found by its object name.
void ClickChild(QWidget* window, const char* name);

// Whether the label shows its text as it is, without reading it as markup.
bool ShowsVerbatim(const QLabel* label);
// The text a message box shows, when it shows it as it is; "" otherwise.
QString VerbatimText(const QMessageBox* box);
// Puts markup-looking text into every label of the window (pictures aside)
// and names the labels that would read it as markup.
QStringList LabelsReadingMarkup(QWidget* window);

}  // namespace dorvik_test

// A QtTest main with the wizard's font, so that measured sizes match the
// program's.
#define DORVIK_QT_TEST_MAIN(TestClass)               \
  int main(int argc, char** argv) {                  \
    QApplication app(argc, argv);                    \
    QFont font;                                      \
    font.setFamilies({"DejaVu Sans", "sans-serif"}); \
    font.setPixelSize(11);                           \
    app.setFont(font);                               \
    TestClass test;                                  \
    return QTest::qExec(&test, argc, argv);          \
  }

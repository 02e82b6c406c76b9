#include "modal_script.h"

#include <QAbstractButton>
#include <QLabel>
#include <QTextDocument>

namespace dorvik_test {

ModalScript::ModalScript() {
  timer_.setInterval(20);
  connect(&timer_, &QTimer::timeout, this, &ModalScript::Tick);
  timer_.start();
}

ModalScript& ModalScript::Then(Step step) {
  steps_.push_back(std::move(step));
  return *this;
}

ModalScript& ModalScript::Answer(QMessageBox::StandardButton button) {
  return Then([button](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    QVERIFY2(box != nullptr, qPrintable("expected a message box, got " + w->objectName()));
    box->button(button)->click();
  });
}

void ModalScript::Tick() {
  // A window is acted on once each time it is shown.
  std::erase_if(handled_, [](const QPointer<QWidget>& h) { return h.isNull() || !h->isVisible(); });
  QWidget* w = QApplication::activeModalWidget();
  if (w == nullptr || steps_.empty() || !w->isVisible()) return;
  for (const auto& h : handled_) {
    if (h == w) return;
  }
  handled_.emplace_back(w);
  QString text;
  if (auto* box = qobject_cast<QMessageBox*>(w)) text = box->text();
  seen_ << w->windowTitle() + "|" + text;
  Step step = std::move(steps_.front());
  steps_.pop_front();
  step(w);
}

bool ShowsVerbatim(const QLabel* label) {
  const Qt::TextFormat format = label->textFormat();
  return format == Qt::PlainText || (format == Qt::AutoText && !Qt::mightBeRichText(label->text()));
}

QString VerbatimText(const QMessageBox* box) {
  const auto* label = box->findChild<QLabel*>("qt_msgbox_label");
  return label != nullptr && ShowsVerbatim(label) ? label->text() : QString();
}

QStringList LabelsReadingMarkup(QWidget* window) {
  QStringList reading;
  for (QLabel* label : window->findChildren<QLabel*>()) {
    if (!label->pixmap().isNull()) continue;
    const QString kept = label->text();
    label->setText("<b>x</b> <LINK>");
    if (!ShowsVerbatim(label)) reading << window->objectName() + "/" + label->objectName() + " (" + kept + ")";
    label->setText(kept);
  }
  return reading;
}

void ClickChild(QWidget* window, const char* name) {
  auto* button = window->findChild<QAbstractButton*>(name);
  QVERIFY2(button != nullptr, name);
  button->click();
}

}  // namespace dorvik_test

// The wizard's window and the controls of its six pages, built from the
// model's page table: every name, text, size and button comes from there;
// only where a control stands is decided here.
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "decor.h"
#include "dialogs/qt_text.h"
#include "wizard_qt/setup.h"

namespace dorvik {

namespace {

const ControlSpec& Control(Page page, const char* name) {
  const ControlSpec* control = PageLayout(page).FindControl(name);
  if (control == nullptr) throw std::logic_error(std::string("no control ") + name + " on " + PageName(page));
  return *control;
}

QString Text(Page page, const char* name) { return FromCore(Control(page, name).text); }

QWidget* NewPage(QStackedWidget* pager, Page page) {
  auto* widget = new QWidget;
  widget->setObjectName(PageName(page));
  pager->addWidget(widget);
  auto* line = new QFrame(widget);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  line->setGeometry(0, kWizardClientHeight - kStripHeight, kPagerWidth - 8, 2);
  return widget;
}

// The page's text area above the bottom strip.
QVBoxLayout* Content(QWidget* page, int spacing) {
  auto* area = new QWidget(page);
  area->setGeometry(8, 16, kPagerWidth - 24, kWizardClientHeight - kStripHeight - 20);
  auto* layout = new QVBoxLayout(area);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(spacing);
  return layout;
}

// Every label shows its text as it is: a namespace or product name with
// "<" in it is not markup.
QLabel* PlainLabel(const ControlSpec& control) {
  auto* label = new QLabel(FromCore(control.text));
  label->setObjectName(QString::fromStdString(control.name));
  label->setTextFormat(Qt::PlainText);
  label->setVisible(control.visible);
  return label;
}

QLabel* AddLabel(QVBoxLayout* layout, Page page, const char* name) {
  QLabel* label = PlainLabel(Control(page, name));
  layout->addWidget(label);
  return label;
}

QPlainTextEdit* Memo(Page page, const char* name) {
  const ControlSpec& control = Control(page, name);
  auto* memo = new QPlainTextEdit;
  memo->setObjectName(name);
  memo->setReadOnly(true);
  memo->setPlainText(FromCore(control.text));
  if (control.width > 0 && control.height > 0) {
    memo->setFixedSize(control.width, control.height);
  } else if (control.height > 0) {
    memo->setFixedHeight(control.height);
  }
  if (!control.framed) {
    memo->setFrameShape(QFrame::NoFrame);
    memo->viewport()->setAutoFillBackground(false);
  }
  const bool vertical = control.scrollbars != Scrollbars::None;
  const bool both = control.scrollbars == Scrollbars::Both;
  memo->setVerticalScrollBarPolicy(vertical ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
  memo->setHorizontalScrollBarPolicy(both ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
  if (both) memo->setLineWrapMode(QPlainTextEdit::NoWrap);
  return memo;
}

QLineEdit* Edit(Page page, const char* name) {
  const ControlSpec& control = Control(page, name);
  auto* edit = new QLineEdit(FromCore(control.text));
  edit->setObjectName(name);
  if (control.width > 0) edit->setFixedWidth(control.width);
  if (control.maxLength > 0) edit->setMaxLength(control.maxLength);
  if (control.digitsOnly) {
    const QString pattern = QString("[0-9 ]{0,%1}").arg(control.maxLength > 0 ? control.maxLength : 32767);
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression(pattern), edit));
  }
  edit->setVisible(control.visible);
  return edit;
}

QCheckBox* CheckBox(Page page, const char* name, QWidget* parent = nullptr) {
  auto* box = new QCheckBox(Text(page, name), parent);
  box->setObjectName(name);
  return box;
}

// The page's buttons in the bottom strip, by slot: 0 back, 1 forward,
// 2 cancel.
std::vector<std::pair<QPushButton*, Action>> StripButtons(QWidget* widget, Page page) {
  std::vector<std::pair<QPushButton*, Action>> made;
  for (const ButtonSpec& design : PageLayout(page).buttons) {
    auto* button = new QPushButton(FromCore(design.caption), widget);
    button->setObjectName(QString::fromStdString(design.name));
    const int cancelLeft = kPagerWidth - 16 - kStripButtonWidth;
    const int left = design.slot == 2 ? cancelLeft : cancelLeft - 8 - (2 - design.slot) * kStripButtonWidth;
    button->setGeometry(left, kWizardClientHeight - kStripHeight + 11, kStripButtonWidth, kStripButtonHeight);
    button->setAutoDefault(false);
    // Drawn as the default button; Enter presses it (keyPressEvent).
    button->setDefault(design.isDefault);
    made.emplace_back(button, design.action);
  }
  return made;
}

}  // namespace

void TfmSetup::BuildPages() {
  setFixedSize(kWizardClientWidth, kWizardClientHeight);

  auto* pnImage = new QFrame(this);
  pnImage->setObjectName("pnImage");
  pnImage->setFrameStyle(QFrame::Panel | QFrame::Raised);
  pnImage->setLineWidth(1);
  pnImage->setGeometry(kImagePanel.left, kImagePanel.top, kImagePanel.width, kImagePanel.height);
  auto* Image1 = new QLabel(pnImage);
  Image1->setObjectName("Image1");
  Image1->setGeometry(1, 1, kImagePanel.width - 2, kImagePanel.height - 2);
  Image1->setPixmap(SidePicture(kImagePanel.width - 2, kImagePanel.height - 2));

  Pager = new QStackedWidget(this);
  Pager->setObjectName("Pager");
  Pager->setGeometry(kWizardClientWidth - kPagerWidth, 0, kPagerWidth, kWizardClientHeight);

  // Welcome.
  tsMain = NewPage(Pager, Page::tsMain);
  {
    QVBoxLayout* c = Content(tsMain, 6);
    auto* top = new QHBoxLayout;
    auto* Image2 = new QLabel;
    Image2->setObjectName("Image2");
    Image2->setPixmap(WelcomePicture(Control(Page::tsMain, "Image2").width));
    top->addWidget(Image2);
    QLabel* greeting = PlainLabel(Control(Page::tsMain, "lbWelcome"));
    greeting->setWordWrap(true);
    QFont bold = greeting->font();
    bold.setBold(true);
    greeting->setFont(bold);
    top->addWidget(greeting, 1);
    c->addLayout(top);
    c->addSpacing(8);
    mmProductInfo = Memo(Page::tsMain, "mmProductInfo");
    c->addWidget(mmProductInfo);
    c->addStretch(1);
    AddLabel(c, Page::tsMain, "lbCancelHint");
    AddLabel(c, Page::tsMain, "lbGoHint");
  }

  // Licence.
  tsLicence = NewPage(Pager, Page::tsLicence);
  {
    QVBoxLayout* c = Content(tsLicence, 2);
    AddLabel(c, Page::tsLicence, "lbReadLicence");
    AddLabel(c, Page::tsLicence, "lbPageDown");
    mmLicence = Memo(Page::tsLicence, "mmLicence");
    c->addWidget(mmLicence);
    AddLabel(c, Page::tsLicence, "lbAccept1");
    AddLabel(c, Page::tsLicence, "lbAccept2");
  }

  // Connection parameters.
  tsParams = NewPage(Pager, Page::tsParams);
  {
    QVBoxLayout* c = Content(tsParams, 6);
    AddLabel(c, Page::tsParams, "lbParams");
    c->addSpacing(10);
    auto* grid = new QGridLayout;
    grid->addWidget(PlainLabel(Control(Page::tsParams, "lbIP")), 0, 0);
    edIP = Edit(Page::tsParams, "edIP");
    grid->addWidget(edIP, 0, 1);
    grid->addWidget(PlainLabel(Control(Page::tsParams, "lbPort")), 1, 0);
    mePort = Edit(Page::tsParams, "mePort");
    grid->addWidget(mePort, 1, 1);
    meIP = Edit(Page::tsParams, "meIP");
    meNS = Edit(Page::tsParams, "meNS");
    grid->addWidget(meIP, 2, 1);
    grid->addWidget(PlainLabel(Control(Page::tsParams, "lbNS")), 3, 0);
    grid->addWidget(meNS, 3, 1);
    grid->setColumnStretch(2, 1);
    c->addLayout(grid);
    c->addStretch(1);
    AddLabel(c, Page::tsParams, "lbParamsDone");
  }

  // Namespace and options.
  tsNS = NewPage(Pager, Page::tsNS);
  {
    QVBoxLayout* c = Content(tsNS, 4);
    AddLabel(c, Page::tsNS, "lbChoose");
    Label6 = AddLabel(c, Page::tsNS, "Label6");
    auto* row = new QHBoxLayout;
    const ControlSpec& list = Control(Page::tsNS, "llNS");
    llNS = new QListWidget;
    llNS->setObjectName("llNS");
    llNS->setFixedSize(list.width, list.height);
    llNS->setToolTip(FromCore(list.hint));
    row->addWidget(llNS);
    lbCachelib = PlainLabel(Control(Page::tsNS, "lbCachelib"));
    // The notice brings its own line breaks; wrapping would break its lines
    // again at half the row's width.
    lbCachelib->setWordWrap(false);
    row->addWidget(lbCachelib, 1);
    row->addStretch(1);
    c->addLayout(row);
    c->addSpacing(6);
    chSPass = CheckBox(Page::tsNS, "chSPass");
    chNoRestore = CheckBox(Page::tsNS, "chNoRestore");
    chNoAfter = CheckBox(Page::tsNS, "chNoAfter");
    for (QCheckBox* box : {chSPass, chNoRestore, chNoAfter}) c->addWidget(box);
    c->addStretch(1);
  }

  // Ready to install.
  tsInstall = NewPage(Pager, Page::tsInstall);
  {
    QVBoxLayout* c = Content(tsInstall, 2);
    AddLabel(c, Page::tsInstall, "lbReady");
    c->addSpacing(4);
    AddLabel(c, Page::tsInstall, "lbSettings");
    mmSettings = Memo(Page::tsInstall, "mmSettings");
    c->addWidget(mmSettings);
    c->addStretch(1);
  }

  // Result.
  tsFinal = NewPage(Pager, Page::tsFinal);
  {
    auto* area = new QWidget(tsFinal);
    area->setGeometry(8, 40, kPagerWidth - 16, 120);
    mmSuccess = PlainLabel(Control(Page::tsFinal, "mmSuccess"));
    mmFailed = PlainLabel(Control(Page::tsFinal, "mmFailed"));
    for (QLabel* text : {mmSuccess, mmFailed}) {
      text->setParent(area);
      text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      text->setGeometry(0, 0, area->width(), 60);
    }
    chProtocol = CheckBox(Page::tsFinal, "chProtocol", tsFinal);
    chProtocol->setGeometry(8, kWizardClientHeight - kStripHeight - 34, 300, 22);
  }

  for (Page page : {Page::tsMain, Page::tsLicence, Page::tsParams, Page::tsNS, Page::tsInstall, Page::tsFinal}) {
    for (const auto& made : StripButtons(PageWidget(page), page)) buttons_.push_back(made);
  }
  auto button = [this](const char* name) { return findChild<QPushButton*>(name); };
  bt0go = button("bt0go");
  bt0Cancel = button("bt0Cancel");
  Button1 = button("Button1");
  bt1Yes = button("bt1Yes");
  Bt1No = button("Bt1No");
  bt2Back = button("bt2Back");
  bt2Go = button("bt2Go");
  bt2Cancel = button("bt2Cancel");
  Button4 = button("Button4");
  Button2 = button("Button2");
  Button3 = button("Button3");
  bt3Back = button("bt3Back");
  bt3Install = button("bt3Install");
  bt3Cancel = button("bt3Cancel");
  btFin = button("btFin");
}

QWidget* TfmSetup::PageWidget(Page page) const {
  switch (page) {
    case Page::tsMain:
      return tsMain;
    case Page::tsLicence:
      return tsLicence;
    case Page::tsParams:
      return tsParams;
    case Page::tsNS:
      return tsNS;
    case Page::tsInstall:
      return tsInstall;
    case Page::tsFinal:
      return tsFinal;
  }
  return tsMain;
}

}  // namespace dorvik

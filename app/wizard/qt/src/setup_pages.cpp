// The wizard's window and the controls of its six pages.
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "decor.h"
#include "wizard_qt/setup.h"

namespace dorvik {

namespace {

constexpr int kClientWidth = 551;
constexpr int kClientHeight = 329;
constexpr int kPagerWidth = 391;
constexpr int kStripHeight = 45;
constexpr int kButtonWidth = 81;
constexpr int kButtonHeight = 23;

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

QWidget* NewPage(QStackedWidget* pager, const char* name) {
  auto* page = new QWidget;
  page->setObjectName(name);
  pager->addWidget(page);
  auto* line = new QFrame(page);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  line->setGeometry(0, kClientHeight - kStripHeight, kPagerWidth - 8, 2);
  return page;
}

// The page's text area above the bottom strip.
QVBoxLayout* Content(QWidget* page) {
  auto* area = new QWidget(page);
  area->setGeometry(8, 16, kPagerWidth - 24, kClientHeight - kStripHeight - 20);
  auto* layout = new QVBoxLayout(area);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(6);
  return layout;
}

// Every label shows its text as it is: a namespace or product name with
// "<" in it is not markup.
QLabel* PlainLabel(const QString& text) {
  auto* label = new QLabel(text);
  label->setTextFormat(Qt::PlainText);
  return label;
}

QLabel* Text(QVBoxLayout* layout, const QString& text, const char* name = nullptr) {
  auto* label = PlainLabel(text);
  if (name != nullptr) label->setObjectName(name);
  layout->addWidget(label);
  return label;
}

// Buttons of the bottom strip, by slot: 0 back, 1 forward, 2 cancel.
QPushButton* StripButton(QWidget* page, const char* name, const QString& text, int slot) {
  auto* button = new QPushButton(text, page);
  button->setObjectName(name);
  const int cancelLeft = kPagerWidth - 16 - kButtonWidth;
  const int left = slot == 2 ? cancelLeft : cancelLeft - 8 - (2 - slot) * kButtonWidth;
  button->setGeometry(left, kClientHeight - kStripHeight + 11, kButtonWidth, kButtonHeight);
  button->setAutoDefault(false);
  return button;
}

QPlainTextEdit* Memo(const char* name, bool framed) {
  auto* memo = new QPlainTextEdit;
  memo->setObjectName(name);
  memo->setReadOnly(true);
  if (!framed) {
    memo->setFrameShape(QFrame::NoFrame);
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    memo->viewport()->setAutoFillBackground(false);
  }
  return memo;
}

}  // namespace

void TfmSetup::BuildPages() {
  setFixedSize(kClientWidth, kClientHeight);

  auto* pnImage = new QFrame(this);
  pnImage->setObjectName("pnImage");
  pnImage->setFrameStyle(QFrame::Panel | QFrame::Raised);
  pnImage->setLineWidth(1);
  pnImage->setGeometry(32, 24, 121, 265);
  auto* Image1 = new QLabel(pnImage);
  Image1->setObjectName("Image1");
  Image1->setGeometry(1, 1, 119, 263);
  Image1->setPixmap(SidePicture(119, 263));

  Pager = new QStackedWidget(this);
  Pager->setObjectName("Pager");
  Pager->setGeometry(kClientWidth - kPagerWidth, 0, kPagerWidth, kClientHeight);

  // Welcome.
  tsMain = NewPage(Pager, "tsMain");
  {
    QVBoxLayout* c = Content(tsMain);
    auto* top = new QHBoxLayout;
    auto* Image2 = new QLabel;
    Image2->setObjectName("Image2");
    Image2->setPixmap(WelcomePicture(40));
    top->addWidget(Image2);
    auto* greeting = new QLabel(U("Вас приветствует установщик программ Velmora для Cache"));
    greeting->setTextFormat(Qt::PlainText);
    greeting->setWordWrap(true);
    QFont bold = greeting->font();
    bold.setBold(true);
    greeting->setFont(bold);
    top->addWidget(greeting, 1);
    c->addLayout(top);
    c->addSpacing(8);
    mmProductInfo = Memo("mmProductInfo", false);
    mmProductInfo->setPlainText(U("Эта программа установит: "));
    mmProductInfo->setFixedHeight(70);
    c->addWidget(mmProductInfo);
    c->addStretch(1);
    Text(c, U("Нажмите \"Отмена\" для выхода из программы "));
    Text(c, U("Для продолжения установки нажмите \"Далее\""));
    bt0go = StripButton(tsMain, "bt0go", U("Далее"), 1);
    bt0Cancel = StripButton(tsMain, "bt0Cancel", U("Отмена"), 2);
  }

  // Licence.
  tsLicence = NewPage(Pager, "tsLicence");
  {
    QVBoxLayout* c = Content(tsLicence);
    c->setSpacing(2);
    Text(c, U("Прочитайте это Лицензионное Соглашение"));
    Text(c, U("Для просмотра всего текста нажмите Page Down"));
    mmLicence = Memo("mmLicence", true);
    mmLicence->setFixedSize(361, 184);
    mmLicence->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    c->addWidget(mmLicence);
    Text(c, U("Если Вы принимаете условия Лицензионного Соглашения,"));
    Text(c, U("нажмите ДА для продолжения установки"));
    Button1 = StripButton(tsLicence, "Button1", U("Назад"), 0);
    bt1Yes = StripButton(tsLicence, "bt1Yes", U("Да"), 1);
    Bt1No = StripButton(tsLicence, "Bt1No", U("Нет"), 2);
  }

  // Connection parameters.
  tsParams = NewPage(Pager, "tsParams");
  {
    QVBoxLayout* c = Content(tsParams);
    Text(c, U("Введите параметры, необходимые для подключения \nк серверу Cache"));
    c->addSpacing(10);
    auto* grid = new QGridLayout;
    grid->addWidget(PlainLabel(U("IP адрес")), 0, 0);
    edIP = new QLineEdit(U("127.0.0.1"));
    edIP->setObjectName("edIP");
    edIP->setFixedWidth(121);
    grid->addWidget(edIP, 0, 1);
    grid->addWidget(PlainLabel(U("Порт")), 1, 0);
    mePort = new QLineEdit(U("1972"));
    mePort->setObjectName("mePort");
    mePort->setMaxLength(4);
    mePort->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9 ]{0,4}"), mePort));
    mePort->setFixedWidth(49);
    grid->addWidget(mePort, 1, 1);
    // Present in the window but not used by the program.
    meIP = new QLineEdit;
    meIP->setObjectName("meIP");
    meIP->hide();
    auto* lbNS = PlainLabel(U("Область"));
    lbNS->hide();
    meNS = new QLineEdit;
    meNS->setObjectName("meNS");
    meNS->hide();
    grid->addWidget(meIP, 2, 1);
    grid->addWidget(lbNS, 3, 0);
    grid->addWidget(meNS, 3, 1);
    grid->setColumnStretch(2, 1);
    c->addLayout(grid);
    c->addStretch(1);
    Text(c, U("Если все параметры введены, нажмите Далее"));
    bt2Back = StripButton(tsParams, "bt2Back", U("Назад"), 0);
    bt2Go = StripButton(tsParams, "bt2Go", U("Далее"), 1);
    bt2Cancel = StripButton(tsParams, "bt2Cancel", U("Отмена"), 2);
  }

  // Namespace and options.
  tsNS = NewPage(Pager, "tsNS");
  {
    QVBoxLayout* c = Content(tsNS);
    c->setSpacing(4);
    Text(c, U("Выберите область, в которой установить дистрибутив\nНажмите \"Далее\""));
    Label6 = Text(c, U("Доступны области:"), "Label6");
    auto* row = new QHBoxLayout;
    llNS = new QListWidget;
    llNS->setObjectName("llNS");
    llNS->setFixedSize(177, 97);
    llNS->setToolTip(U("Выберите область"));
    row->addWidget(llNS);
    lbCachelib = PlainLabel(QString());
    lbCachelib->setObjectName("lbCachelib");
    // The notice brings its own line breaks; wrapping would break its lines
    // again at half the row's width.
    lbCachelib->setWordWrap(false);
    lbCachelib->hide();
    row->addWidget(lbCachelib, 1);
    row->addStretch(1);
    c->addLayout(row);
    c->addSpacing(6);
    chSPass = new QCheckBox(U("Сохранять исходные тексты"));
    chSPass->setObjectName("chSPass");
    chNoRestore = new QCheckBox(U("НЕ восстанавливать программы"));
    chNoRestore->setObjectName("chNoRestore");
    chNoAfter = new QCheckBox(U("НЕ выполнять последействия"));
    chNoAfter->setObjectName("chNoAfter");
    for (QCheckBox* box : {chSPass, chNoRestore, chNoAfter}) c->addWidget(box);
    c->addStretch(1);
    Button4 = StripButton(tsNS, "Button4", U("Назад"), 0);
    Button2 = StripButton(tsNS, "Button2", U("Далее"), 1);
    Button3 = StripButton(tsNS, "Button3", U("Отмена"), 2);
  }

  // Ready to install.
  tsInstall = NewPage(Pager, "tsInstall");
  {
    QVBoxLayout* c = Content(tsInstall);
    c->setSpacing(2);
    Text(c, U("Программа готова к установке дистрибутива\n"
              "Проверьте текущие параметры и нажмите  Установить,\n"
              "если все правильно"));
    c->addSpacing(4);
    Text(c, U("Текущие настройки:"));
    mmSettings = Memo("mmSettings", true);
    mmSettings->setFixedSize(359, 185);
    mmSettings->setLineWrapMode(QPlainTextEdit::NoWrap);
    mmSettings->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mmSettings->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    c->addWidget(mmSettings);
    c->addStretch(1);
    bt3Back = StripButton(tsInstall, "bt3Back", U("Назад"), 0);
    bt3Install = StripButton(tsInstall, "bt3Install", U("Установить"), 1);
    bt3Cancel = StripButton(tsInstall, "bt3Cancel", U("Отмена"), 2);
  }

  // Result.
  tsFinal = NewPage(Pager, "tsFinal");
  {
    auto* area = new QWidget(tsFinal);
    area->setGeometry(8, 40, kPagerWidth - 16, 120);
    mmSuccess = new QLabel(U("Установка дистрибутива успешно завершена."), area);
    mmSuccess->setObjectName("mmSuccess");
    mmFailed = new QLabel(U("Установка дистрибутива не была завершена\n"
                            "Сохраните протокол установки и обратитеcь к разработчику \n"
                            "дистрибутива"),
                          area);
    mmFailed->setObjectName("mmFailed");
    for (QLabel* text : {mmSuccess, mmFailed}) {
      text->setTextFormat(Qt::PlainText);
      text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      text->setGeometry(0, 0, area->width(), 60);
    }
    chProtocol = new QCheckBox(U("Просмотреть протокол установки"), tsFinal);
    chProtocol->setObjectName("chProtocol");
    chProtocol->setGeometry(8, kClientHeight - kStripHeight - 34, 300, 22);
    btFin = StripButton(tsFinal, "btFin", U("Выход"), 2);
  }
}

}  // namespace dorvik

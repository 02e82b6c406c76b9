#include "wizard_qt/setup.h"

#include <QCloseEvent>
#include <QDir>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QTextCursor>
#include <future>

#include "dialogs/exit_dialog.h"
#include "dialogs/keep_restored.h"
#include "dialogs/fone.h"
#include "dialogs/pass_dialog.h"
#include "dialogs/placement.h"
#include "dialogs/progress.h"
#include "dialogs/qt_text.h"
#include "dialogs/qt_ui.h"
#include "dialogs/ui_thread.h"
#include "distribution/codepage.h"

namespace dorvik {

namespace {

constexpr Check kChecks[] = {Check::chSPass, Check::chNoRestore, Check::chNoAfter, Check::chProtocol};

QStringList ToLines(const std::vector<std::string>& lines) {
  QStringList out;
  for (const std::string& line : lines) out << FromCore(line);
  return out;
}

// Fills a memo when its lines changed, so that a redraw keeps where the
// user had scrolled to.
void FillMemo(QPlainTextEdit* memo, const std::vector<std::string>& lines) {
  const QString text = ToLines(lines).join('\n');
  if (memo->toPlainText() == text) return;
  memo->setPlainText(text);
  memo->moveCursor(QTextCursor::Start);
}

// A text the user typed, as code page 1251; nothing when it holds a
// character that code page lacks.
std::optional<std::string> TypedText(const QString& text) {
  try {
    return ToCore(text);
  } catch (const TextConversionError&) {
    return std::nullopt;
  }
}

}  // namespace

TfmSetup::TfmSetup(Session& session, QtInstallerUi& ui, LinkThread& link, std::function<void()> terminate,
                   QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::CustomizeWindowHint | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowStaysOnTopHint),
      s_(session),
      ui_(ui),
      link_(link),
      terminate_(std::move(terminate)),
      model_(session, *this) {
  setObjectName("fmSetup");
  KeepRestored(this);
  BuildPages();

  for (int i = 0; i < kActionCount; ++i) {
    const auto action = static_cast<Action>(i);
    auto* qaction = new QAction(FromCore(ActionCaption(action)), this);
    qaction->setObjectName(ActionName(action));
    connect(qaction, &QAction::triggered, this, [this, action] { model_.Trigger(action); });
    actions_[static_cast<std::size_t>(i)] = qaction;
  }
  for (const auto& [button, action] : buttons_) {
    connect(button, &QPushButton::clicked, ActionOf(action), &QAction::trigger);
  }
  // The user's clicks on the boxes; the model decides whether a tick stays.
  const std::pair<QCheckBox*, Check> boxes[] = {
      {chSPass, Check::chSPass}, {chNoRestore, Check::chNoRestore}, {chNoAfter, Check::chNoAfter}};
  for (const auto& [box, check] : boxes) {
    connect(box, &QCheckBox::clicked, this, [this, check](bool on) { model_.Click(check, on); });
  }
  connect(chProtocol, &QCheckBox::toggled, this, [this](bool on) {
    if (!refreshing_) model_.Click(Check::chProtocol, on);
  });
  connect(edIP, &QLineEdit::textChanged, this, [this](const QString& text) {
    if (!refreshing_) model_.SetFieldText(Field::edIP, TypedText(text));
  });
  connect(mePort, &QLineEdit::textChanged, this, [this](const QString& text) {
    if (!refreshing_) model_.SetFieldText(Field::mePort, TypedText(text));
  });
  connect(llNS, &QListWidget::currentRowChanged, this, [this](int row) {
    if (!refreshing_) model_.SelectNamespace(row);
  });
  Refresh();
}

TfmSetup::~TfmSetup() { FormDestroy(); }

void TfmSetup::FormCreate(TfmFone& fone, const std::vector<std::string>& args) {
  fone_ = &fone;
  setWindowTitle(FromCore(model_.WindowTitle()));
  model_.FormCreate(args);
  fone.SetTitle(FromCore(model_.BackgroundTitle()));
  if (QScreen* display = QGuiApplication::primaryScreen()) {
    move(display->availableGeometry().center() - rect().center());
  }
  show();
}

void TfmSetup::SetWindows(TfmProgress* progress, TfmExit* exit, TfmPass* pass) {
  progress_ = progress;
  exit_ = exit;
  pass_ = pass;
}

void TfmSetup::FormDestroy() {
  if (const std::optional<ProtocolToShow> protocol = model_.FormDestroy()) {
    ui_.ShowProtocol(protocol->file, protocol->workingFolder);
  }
}

void TfmSetup::Refresh() {
  refreshing_ = true;
  Pager->setCurrentWidget(PageWidget(model_.CurrentPage()));
  FillMemo(mmProductInfo, model_.ProductInfoLines());
  FillMemo(mmLicence, model_.LicenceLines());
  FillMemo(mmSettings, model_.SettingsLines());
  for (const auto& [edit, field] : {std::pair{edIP, Field::edIP}, std::pair{mePort, Field::mePort}}) {
    const QString text = FromCore(model_.FieldText(field));
    if (edit->text() != text) edit->setText(text);
  }
  const QStringList names = ToLines(model_.Namespaces());
  QStringList shown;
  for (int i = 0; i < llNS->count(); ++i) shown << llNS->item(i)->text();
  if (shown != names) {
    llNS->clear();
    llNS->addItems(names);
  }
  llNS->setCurrentRow(model_.SelectedNamespace());
  // A library distribution goes into the namespace chosen when connecting:
  // the list and its caption are hidden and the list takes no choice.
  const bool library = model_.LibraryMode();
  llNS->setVisible(!library);
  llNS->setEnabled(!library);
  Label6->setVisible(!library);
  lbCachelib->setVisible(library);
  lbCachelib->setText(ToLines(model_.LibraryNoticeLines()).join('\n'));
  const std::pair<QCheckBox*, Check> boxes[] = {{chSPass, Check::chSPass},
                                                {chNoRestore, Check::chNoRestore},
                                                {chNoAfter, Check::chNoAfter},
                                                {chProtocol, Check::chProtocol}};
  for (const auto& [box, check] : boxes) box->setChecked(model_.Ticked(check));
  mmSuccess->setVisible(model_.Succeeded());
  mmFailed->setVisible(!model_.Succeeded());
  const std::string focus = model_.TakeFocusRequest();
  if (!focus.empty()) {
    if (auto* target = Pager->currentWidget()->findChild<QWidget*>(QString::fromStdString(focus))) target->setFocus();
  }
  refreshing_ = false;
}

Answer TfmSetup::Ask(const Prompt& prompt) {
  Answer answer;
  switch (prompt.kind) {
    case PromptKind::Message: {
      QString text = FromCore(prompt.text);
      if (!prompt.file.empty())
        text += "\n" + QDir::toNativeSeparators(QString::fromStdU16String(prompt.file.u16string()));
      ui_.ShowMessageText(text);
      break;
    }
    case PromptKind::YesNo:
      answer.accepted = ui_.AskYesNo(prompt.text, prompt.defaultNo);
      break;
    case PromptKind::Password:
      if (pass_ != nullptr) {
        CentreOn(pass_, this);
        answer.accepted = pass_->exec() == QDialog::Accepted;
        answer.text = TypedText(pass_->edPass->text());
      }
      break;
    case PromptKind::Exit:
      // Without the dialog the wizard stays, as after "Продолжить".
      answer.accepted = true;
      if (exit_ != nullptr) {
        CentreOn(exit_, this);
        answer.accepted = exit_->exec() == QDialog::Accepted;
      }
      break;
  }
  return answer;
}

void TfmSetup::RunOnLinkThread(const std::function<void()>& call) {
  std::future<void> done;
  WaitResponsive([&](std::function<void()> finished) { done = link_.Post(call, std::move(finished)); },
                 {this, fone_, progress_}, {fone_, progress_});
  BackToFront();
  done.get();  // throws again what the call threw
}

void TfmSetup::Terminate() { terminate_(); }

// After a step the wizard takes the keyboard again, in front of the
// background and the progress window.
void TfmSetup::BackToFront() {
  if (!isVisible()) return;
  raise();
  activateWindow();
}

std::optional<Action> TfmSetup::FocusedButtonAction() const {
  auto* focused = qobject_cast<QPushButton*>(focusWidget());
  if (focused == nullptr || !focused->isVisible() || !focused->isEnabled()) return std::nullopt;
  for (const auto& [button, action] : buttons_) {
    if (button == focused) return action;
  }
  return std::nullopt;
}

// Enter and Esc as the model rules; Space on a button is the button's own
// business.
void TfmSetup::keyPressEvent(QKeyEvent* event) {
  std::optional<Action> action;
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    action = model_.EnterAction(FocusedButtonAction());
  } else if (event->key() == Qt::Key_Escape) {
    action = model_.EscAction();
  } else {
    QWidget::keyPressEvent(event);
    return;
  }
  if (action) ActionOf(*action)->trigger();
}

void TfmSetup::closeEvent(QCloseEvent* event) {
  if (model_.CloseQuery()) {
    event->accept();
  } else {
    event->ignore();
  }
}

}  // namespace dorvik

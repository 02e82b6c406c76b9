#include "win32_ui.h"

#include <exception>

#include "app/shell_open.h"
#include "dialogs.h"
#include "distribution/codepage.h"
#include "fone.h"
#include "progress.h"
#include "win_base.h"

namespace dorvik::win {

namespace {

const wchar_t* const kSinkClass = L"VelmoraUiSink";
const wchar_t* const kWizardTitle = L"Velmora Installation Wizard";
constexpr UINT kRunMessage = WM_APP + 1;
constexpr UINT kStepDone = WM_APP + 2;

struct Call {
  const std::function<void()>* fn;
  std::exception_ptr failure;
};

bool IsKey(UINT m) { return m >= WM_KEYFIRST && m <= WM_KEYLAST; }
bool IsMouse(UINT m) { return (m >= WM_MOUSEFIRST && m <= WM_MOUSELAST) || (m >= WM_NCMOUSEMOVE && m <= 0x00AD); }

}  // namespace

Win32Ui::Win32Ui() : uiThread_(GetCurrentThreadId()), appTitle_("Velmora Installation Wizard") {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = SinkProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = kSinkClass;
  RegisterClassExW(&wc);
  // A message-only window of the interface thread: the link thread sends
  // the operations it asks for here.
  sink_ = CreateWindowExW(0, kSinkClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr), this);
  opener_ = [](const std::filesystem::path& file, const std::filesystem::path& folder) { OpenInShell(file, folder); };
}

Win32Ui::~Win32Ui() {
  if (sink_ != nullptr) DestroyWindow(sink_);
}

void Win32Ui::Attach(Fone* fone, HWND wizard, class Progress* progress) {
  fone_ = fone;
  wizard_ = wizard;
  progress_ = progress;
}

LRESULT CALLBACK Win32Ui::SinkProc(HWND window, UINT message, WPARAM wp, LPARAM lp) {
  if (message == kRunMessage) {
    auto* call = reinterpret_cast<Call*>(lp);
    try {
      (*call->fn)();
    } catch (...) {
      call->failure = std::current_exception();
    }
    return 0;
  }
  return DefWindowProcW(window, message, wp, lp);
}

void Win32Ui::OnUi(const std::function<void()>& fn) const {
  if (GetCurrentThreadId() == uiThread_) {
    fn();
    return;
  }
  Call call{&fn, nullptr};
  SendMessageW(sink_, kRunMessage, 0, reinterpret_cast<LPARAM>(&call));
  if (call.failure) std::rethrow_exception(call.failure);
}

// While a step runs, the wizard takes no input at all, and the background
// and the progress window take only Esc (UserAbort), so no action can
// start twice and the program cannot be closed under a running step.
bool Win32Ui::HoldInput(const MSG& msg) const {
  if (!IsKey(msg.message) && !IsMouse(msg.message)) return false;
  HWND root = GetAncestor(msg.hwnd, GA_ROOT);
  const bool companion =
      (fone_ != nullptr && root == fone_->hwnd()) || (progress_ != nullptr && root == progress_->hwnd());
  if (root == wizard_) return true;
  if (!companion) return false;
  if ((msg.message == WM_KEYDOWN || msg.message == WM_KEYUP) && msg.wParam == VK_ESCAPE) return false;
  return true;
}

void Win32Ui::RunOnLinkThread(const std::function<void()>& step) {
  busy_ = true;
  HWND sink = sink_;
  std::future<void> done = link_->Post(step, [sink] { PostMessageW(sink, kStepDone, 0, 0); });
  bool quit = false;
  int quitCode = 0;
  MSG msg;
  for (;;) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got <= 0) {
      // The step must finish before the program may end; the request to
      // end is kept for the outer loop.
      quit = true;
      quitCode = static_cast<int>(msg.wParam);
      continue;
    }
    if (msg.hwnd == sink_ && msg.message == kStepDone) break;
    if (HoldInput(msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  busy_ = false;
  if (quit) PostQuitMessage(quitCode);
  done.get();  // throws again what the step threw
}

// A dialog belongs to the wizard while it is shown, else to the background
// (the main window), which it then stands in front of. Not to the progress
// window: that one floats without a frame above the others, and a window
// manager stacks the dialogs of such a window beneath the full-screen
// background; the dialogs open clear of it instead (ProgressArea).
HWND Win32Ui::DialogParent() const {
  if (wizard_ != nullptr && IsWindowVisible(wizard_)) return wizard_;
  return fone_ != nullptr ? fone_->hwnd() : nullptr;
}

// The post-action questions open clear of the progress window, so that its
// stage text, gauge and messages stay in view.
RECT Win32Ui::ProgressArea() const {
  RECT r{};
  if (progress_ != nullptr && IsWindowVisible(progress_->hwnd())) GetWindowRect(progress_->hwnd(), &r);
  return r;
}

void Win32Ui::SetStage(const std::string& text) {
  OnUi([&] { progress_->SetStage(Wide(text)); });
}
void Win32Ui::SetAnimation(Animation kind) {
  OnUi([&] { progress_->SetAnimation(kind); });
}
void Win32Ui::SetElement(const std::string& text) {
  OnUi([&] { progress_->SetElement(Wide(text)); });
}
void Win32Ui::SetProgressMax(int max) {
  OnUi([&] { progress_->SetProgressMax(max); });
}
void Win32Ui::SetProgress(int position) {
  OnUi([&] { progress_->SetProgress(position); });
}
int Win32Ui::Progress() const { return progress_->Position(); }
int Win32Ui::ProgressMax() const { return progress_->Maximum(); }
void Win32Ui::SetTimeText(const std::string& text) {
  OnUi([&] { progress_->SetTimeText(Wide(text)); });
}
void Win32Ui::SetTimeVisible(bool visible) {
  OnUi([&] { progress_->SetTimeVisible(visible); });
}
void Win32Ui::SetGaugeVisible(bool visible) {
  OnUi([&] { progress_->SetGaugeVisible(visible); });
}
void Win32Ui::SetProgressHeight(int height) {
  OnUi([&] { progress_->SetProgressHeight(height); });
}

void Win32Ui::PlaceProgressBesidePicture() {
  OnUi([&] {
    RECT main, own;
    GetWindowRect(fone_->hwnd(), &main);
    GetWindowRect(progress_->hwnd(), &own);
    progress_->SetProgressPosition({main.right - (own.right - own.left), fone_->PictureBottom() + Px(20)});
    progress_->PlaceProgress();
  });
}

void Win32Ui::SetStayOnTop(bool on) {
  OnUi([&] { progress_->SetStayOnTop(on); });
}

void Win32Ui::ShowProgress() {
  OnUi([&] {
    ShowWindow(progress_->hwnd(), SW_SHOWNA);
    SetWindowPos(progress_->hwnd(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  });
}
void Win32Ui::HideProgress() {
  OnUi([&] { ShowWindow(progress_->hwnd(), SW_HIDE); });
}
void Win32Ui::CloseProgress() { HideProgress(); }
void Win32Ui::RefreshProgress() {
  OnUi([&] { RedrawWindow(progress_->hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN); });
}
void Win32Ui::EnterPostActionMode() {
  OnUi([&] { progress_->EnterPostActionMode(); });
}
void Win32Ui::AppendAfterLine(const std::string& text) {
  OnUi([&] { progress_->AppendAfterLine(Wide(text)); });
}
void Win32Ui::AcceptAbortRequests(bool on) {
  OnUi([&] { progress_->AcceptAbortRequests(on); });
}
void Win32Ui::ClearAbortNotice() {
  OnUi([&] { progress_->ClearAbortNotice(); });
}

void Win32Ui::ShowWizard() {
  // The wizard is back: the application's title is its own again, not the
  // last stage's percentage.
  SetAppTitle("Velmora Installation Wizard");
  OnUi([&] {
    ShowWindow(wizard_, SW_SHOW);
    SetForegroundWindow(wizard_);
  });
}
void Win32Ui::HideWizard() {
  OnUi([&] { ShowWindow(wizard_, SW_HIDE); });
}
void Win32Ui::SetWizardStayOnTop(bool on) {
  OnUi([&] {
    SetWindowPos(wizard_, on ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  });
}

void Win32Ui::ShowPicture(const std::filesystem::path& file) {
  OnUi([&] { fone_->ShowPicture(file); });
}

void Win32Ui::ShowMessage(const std::string& text) { ShowMessageText(Wide(text)); }

void Win32Ui::ShowMessageText(const std::wstring& text) {
  OnUi([&] {
    TraceLine("ask Message");
    MessageBoxW(DialogParent(), text.c_str(), kWizardTitle, MB_OK | MB_ICONWARNING);
  });
}

bool Win32Ui::AskYesNo(const std::string& text, bool defaultNo) {
  bool yes = false;
  OnUi([&] {
    TraceLine("ask YesNo");
    // No icon; the system's own "Да" and "Нет".
    yes = MessageBoxW(DialogParent(), Wide(text).c_str(), kWizardTitle,
                      MB_YESNO | (defaultNo ? MB_DEFBUTTON2 : MB_DEFBUTTON1)) == IDYES;
  });
  return yes;
}

int Win32Ui::RunKelbox(const KelboxRequest& request) {
  int result = 0;
  OnUi([&] {
    TraceLine("ask Kelbox");
    result = win::RunKelbox(request, DialogParent(), ProgressArea());
  });
  return result;
}

std::string Win32Ui::AskUser(const std::string& question, const std::string& caption,
                             const std::string& defaultAnswer) {
  std::string answer;
  OnUi([&] {
    TraceLine("ask AskUser");
    std::wstring offered = Wide(defaultAnswer);
    for (;;) {
      const std::wstring typed = win::AskUser(Wide(question), Wide(caption), offered, DialogParent(), ProgressArea());
      try {
        answer = Narrow(typed);
        return;
      } catch (const TextConversionError&) {
        // The server cannot take this text; ask again with the typed text.
        MessageBoxW(DialogParent(), L"Ответ содержит символы, которые нельзя передать серверу.", kWizardTitle,
                    MB_OK | MB_ICONWARNING);
        offered = typed;
      }
    }
  });
  return answer;
}

void Win32Ui::SetAppTitle(const std::string& title) {
  {
    std::lock_guard lock(titleMutex_);
    appTitle_ = title;
  }
  OnUi([&] {
    if (fone_ != nullptr) SetWindowTextW(fone_->hwnd(), Wide(title).c_str());
  });
}

std::string Win32Ui::AppTitle() const {
  std::lock_guard lock(titleMutex_);
  return appTitle_;
}

// The steps run on the link thread while this thread runs its own loop, so
// there is nothing to do for them; on the interface thread the pending
// messages are handled.
void Win32Ui::ProcessMessages() {
  if (GetCurrentThreadId() != uiThread_) return;
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    if (HoldInput(msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void Win32Ui::OpenFile(const std::filesystem::path& file, const std::filesystem::path& workingFolder) {
  OnUi([&] {
    // The viewer the shell starts must come up in front of the wizard, so
    // the wizard leaves its always-on-top state (it stays in front of the
    // background, which owns it).
    if (wizard_ != nullptr) {
      SetWindowPos(wizard_, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    opener_(file, workingFolder);
  });
}

}  // namespace dorvik::win

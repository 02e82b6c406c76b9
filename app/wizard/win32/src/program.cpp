#include "program.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <memory>

#include "app/settings_file.h"
#include "app/shell_open.h"
#include "core/services.h"
#include "core/session.h"
#include "dialogs.h"
#include "fone.h"
#include "link/vism_link.h"
#include "progress.h"
#include "setup.h"
#include "win32_ui.h"
#include "win_base.h"
#include "wizard_model/client_probe.h"
#include "wizard_model/link_thread.h"

namespace dorvik::win {

namespace {

// The link thread's apartment: COM apartment-threaded before the control
// is made, and the thread's messages pumped while it waits for work, as an
// apartment-threaded thread must.
LinkThreadHooks ApartmentHooks() {
  LinkThreadHooks hooks;
  hooks.enter = [] {
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hr)) throw std::runtime_error("COM cannot be initialised on the link thread");
  };
  hooks.leave = [] { CoUninitialize(); };
  hooks.idle = [] {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  };
  return hooks;
}

void MessageLoop(HWND wizard) {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (!IsDialogMessageW(wizard, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
}

}  // namespace

int RunWizard(const std::vector<std::string>& args, const std::filesystem::path& folder,
              const ProgramOptions& options) {
  // Before any window: the client test.
  if (!MakeSystemClientProbe()->ClientPresent()) {
    TraceLine("ask NoClient");
    MessageBoxW(nullptr, Wide(NoClientText()).c_str(), L"Velmora Installation Wizard", MB_OK | MB_ICONWARNING);
    return 0;
  }
  // The interface thread uses COM for the pictures (the imaging component).
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_ANIMATE_CLASS | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);

  int code = 0;
  {
    std::unique_ptr<dorvik::LinkThread> link;
    try {
      link = std::make_unique<dorvik::LinkThread>([] { return std::make_unique<VismLink>(); }, ApartmentHooks());
    } catch (const std::exception& e) {
      MessageBoxW(nullptr, (Wide(NoClientText()) + L"\n\n" + WideUtf8(e.what())).c_str(),
                  L"Velmora Installation Wizard", MB_OK | MB_ICONWARNING);
      if (SUCCEEDED(com)) CoUninitialize();
      return 0;
    }
    SystemClock clock;
    std::unique_ptr<SettingsStore> settings = OpenUserSettings();
    Win32Ui ui;
    ui.SetLinkThread(link.get());
    Session session(FileLocations::In(folder), link->Link(), ui, clock, *settings);

    // The seven windows, each once, in their order.
    Fone fmFone([] { PostQuitMessage(0); });
    Setup fmSetup(session, ui, fmFone.hwnd());
    ui.Attach(&fmFone, fmSetup.hwnd(), nullptr);
    Progress fmProgress(fmFone.hwnd(), session.run.UserAbort, options.still);
    ui.Attach(&fmFone, fmSetup.hwnd(), &fmProgress);
    fmFone.SetCompanions(fmSetup.hwnd(), &fmProgress);
    fmSetup.FormCreate(args);
    ExitDialog fmExit(fmSetup.hwnd());
    PassDialog fmPass(fmSetup.hwnd());
    fmSetup.SetDialogs(&fmExit, &fmPass);
    // fmBox and fmAskUser as made at start; every question makes its own.
    KelboxDialog fmBox(fmFone.hwnd(), KelboxRequest{});
    AskUserDialog fmAskUser(fmFone.hwnd(), L"", L"", L"");

    SetText(fmFone.hwnd(), L"Velmora Installation Wizard");
    fmFone.SetTitle(Wide(fmSetup.model().BackgroundTitle()));
    fmFone.ShowFullScreen();
    ShowWindow(fmSetup.hwnd(), SW_SHOW);
    SetForegroundWindow(fmSetup.hwnd());
    UpdateWindow(fmSetup.hwnd());
    TraceLine("ready");
    MessageLoop(fmSetup.hwnd());

    // At exit: the install log, and the protocol opened when asked for.
    if (const auto protocol = fmSetup.model().FormDestroy()) OpenInShell(protocol->file, protocol->workingFolder);
  }
  if (SUCCEEDED(com)) CoUninitialize();
  return code;
}

}  // namespace dorvik::win

// fmBox: the program's own message box with buttons from the "_" list.
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "core/whole_number.h"
#include "dialogs.h"
#include "picture.h"
#include "win_base.h"

namespace dorvik::win {

namespace {

enum : int { kImIcon = 90, kLbMes = 91, kFirstButton = 100 };

bool IconFileExists(const std::string& file) {
  if (file.empty()) return false;
  return GetFileAttributesW(Wide(file).c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

KelboxDialog::KelboxDialog(HWND owner, const KelboxRequest& request) : request_(request) {
  // Taken with the other parameters: a focus button that is not a number
  // fails before anything is shown.
  focus_ = request.focusButtonText ? ParseWholeNumber(*request.focusButtonText) : request.focusButton;
  if (IconFileExists(request.iconFile)) icon_ = DecodePicture(std::filesystem::path(Wide(request.iconFile)));
  // A dialog border and no title-bar buttons: only a button or Esc ends it.
  Create(L"fmBox", request.caption.empty() ? std::wstring(L"Сообщение") : Wide(request.caption), 0, owner);
  if (window_ == nullptr) throw std::runtime_error("the window cannot be created");
}

void KelboxDialog::OnInit() {
  HWND probe = Child(window_, L"STATIC", L"", 0, 0, 0, 1, 1, 0);
  const Measure measure = [probe](std::wstring_view text) { return TextWidth(probe, text); };
  layout_ =
      LayOutKelbox(Wide(request_.message), Wide(request_.buttons), request_.buttonWidth, icon_ != nullptr, measure);
  DestroyWindow(probe);
  const KelboxLayout& g = layout_;
  SetClientSize(window_, g.windowWidth, g.windowHeight);
  if (icon_ != nullptr) {
    HWND image = Child(window_, L"STATIC", L"", WS_VISIBLE | SS_BITMAP | SS_CENTERIMAGE, 0, 0, g.iconWidth, g.topHeight,
                       kImIcon);
    SendMessageW(image, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(icon_));
  }
  Child(window_, L"STATIC", Wide(request_.message), WS_VISIBLE | SS_CENTER | SS_NOPREFIX, g.iconWidth,
        g.topHeight - g.labelHeight, g.windowWidth - g.iconWidth, g.labelHeight, kLbMes);
  for (std::size_t k = 0; k < g.buttons.size(); ++k) {
    const auto& b = g.buttons[k];
    const bool isFocus = static_cast<int>(k) + 1 == focus_;
    Child(window_, L"BUTTON", b.caption,
          WS_VISIBLE | WS_TABSTOP | (isFocus ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON) | BS_TEXT, b.left, b.top, b.width,
          b.height, kFirstButton + static_cast<int>(k));
  }
  if (focus_ >= 1 && focus_ <= static_cast<int>(g.buttons.size())) {
    SendMessageW(window_, DM_SETDEFID, static_cast<WPARAM>(kFirstButton + focus_ - 1), 0);
    SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(kFirstButton + focus_ - 1)), TRUE);
  }
}

bool KelboxDialog::OnCommand(int id, int) {
  if (id >= kFirstButton && id < kFirstButton + static_cast<int>(layout_.buttons.size())) {
    End(id - kFirstButton + 1);
    return true;
  }
  if (id == IDCANCEL) {  // Esc
    if (request_.escResult > 0) End(request_.escResult);
    return true;
  }
  return id == IDOK;  // Enter without a default button does nothing
}

bool KelboxDialog::OnMessage(UINT message, WPARAM, LPARAM, INT_PTR& result) {
  if (message == WM_DESTROY && icon_ != nullptr) {
    DeleteObject(icon_);
    icon_ = nullptr;
  }
  (void)result;
  return false;
}

int RunKelbox(const KelboxRequest& request, HWND owner, const RECT& keepVisible) {
  try {
    auto box = std::make_unique<KelboxDialog>(owner, request);
    if (keepVisible.right > keepVisible.left) {
      PlaceClearOf(box->hwnd(), keepVisible);
    } else {
      CentreOn(box->hwnd(), nullptr);
    }
    return box->ShowModal();
  } catch (const std::exception& e) {
    throw std::runtime_error(std::string("RunKelbox Error ") + e.what());
  }
}

}  // namespace dorvik::win

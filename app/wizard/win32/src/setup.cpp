#include "setup.h"

#include <commctrl.h>

#include <algorithm>

#include "dialogs.h"
#include "distribution/codepage.h"
#include "win32_ui.h"
#include "win_base.h"

namespace dorvik::win {

namespace {

const wchar_t* const kClass = L"fmSetup";
constexpr int kPagerLeft = kWizardClientWidth - kPagerWidth;
constexpr int kContentLeft = kPagerLeft + 8;
constexpr int kContentWidth = kPagerWidth - 16;
constexpr int kStripTop = kWizardClientHeight - kStripHeight;
constexpr int kLineHeight = 13;
constexpr int kGap = 6;
constexpr int kFirstId = 1000;
constexpr UINT kRestore = WM_APP + 10;

// The lines a label `width` wide needs for its text in its font: each of
// its own lines, wrapped where it is wider.
int Lines(HWND label, const std::string& text, int width) {
  int n = 0;
  std::size_t at = 0;
  for (;;) {
    const auto end = text.find('\n', at);
    const int w = TextWidth(label, Wide(text.substr(at, end == std::string::npos ? std::string::npos : end - at)));
    n += std::max(1, (w + width - 1) / width);
    if (end == std::string::npos) return n;
    at = end + 1;
  }
}

// Line breaks as the controls show them (CR LF).
std::wstring Shown(const std::string& text) {
  std::wstring out;
  for (const wchar_t c : Wide(text)) {
    if (c == L'\n') {
      out += L"\r\n";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

Setup::Setup(Session& session, Win32Ui& ui, HWND owner) : s_(session), ui_(ui), model_(session, *this), owner_(owner) {
  LOGFONTW bold{};
  GetObjectW(DialogFont(), sizeof bold, &bold);
  bold.lfWeight = FW_BOLD;
  bold_ = CreateFontIndirectW(&bold);
  // A fixed single border with only the system menu, always on top.
  window_ = CreateNamedDialog(kClass, Wide(kWizardTitle), WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, owner,
                              Proc, reinterpret_cast<LPARAM>(this));
  SetWindowPos(window_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

Setup::~Setup() {
  if (window_ != nullptr) DestroyWindow(window_);
  if (bold_ != nullptr) DeleteObject(bold_);
}

void Setup::SetDialogs(ExitDialog* exit, PassDialog* pass) {
  exit_ = exit;
  pass_ = pass;
}

INT_PTR CALLBACK Setup::Proc(HWND window, UINT message, WPARAM wp, LPARAM lp) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<Setup*>(lp);
    self->window_ = window;
    SetWindowLongPtrW(window, DWLP_USER, lp);
    SetClientSize(window, kWizardClientWidth, kWizardClientHeight);
    self->BuildPages();
    return FALSE;
  }
  auto* self = reinterpret_cast<Setup*>(GetWindowLongPtrW(window, DWLP_USER));
  return self != nullptr ? self->Handle(message, wp, lp) : FALSE;
}

INT_PTR Setup::Handle(UINT message, WPARAM wp, LPARAM lp) {
  switch (message) {
    case WM_COMMAND:
      OnCommand(LOWORD(wp), HIWORD(wp), reinterpret_cast<HWND>(lp));
      return TRUE;
    case WM_SYSCOMMAND:
      // The title-bar close and the system menu's close: the exit dialog
      // decides, and the window itself never closes this way.
      if ((wp & 0xFFF0) == SC_CLOSE) {
        model_.CloseQuery();
        SetWindowLongPtrW(window_, DWLP_MSGRESULT, 0);
        return TRUE;
      }
      return FALSE;
    case WM_SIZE:
      // The wizard has no minimise box; a window manager that minimises it
      // anyway gets it back at once, so it never hides behind the
      // full-screen background.
      if (wp == SIZE_MINIMIZED) PostMessageW(window_, kRestore, 0, 0);
      return FALSE;
    case kRestore:
      ShowWindow(window_, SW_RESTORE);
      SetForegroundWindow(window_);
      TraceLine("restored");
      return TRUE;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window_, &ps);
      PaintImagePanel(dc);
      EndPaint(window_, &ps);
      return TRUE;
    }
    case WM_CTLCOLORSTATIC: {
      // The borderless read-only texts stand on the dialog's colour.
      HDC dc = reinterpret_cast<HDC>(wp);
      SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
    }
    default:
      return FALSE;
  }
}

void Setup::BuildPages() {
  for (const Page page : {Page::tsMain, Page::tsLicence, Page::tsParams, Page::tsNS, Page::tsInstall, Page::tsFinal}) {
    BuildPage(PageLayout(page));
  }
  // The bottom strip's separating line, the same on every page.
  Child(window_, L"STATIC", L"", WS_VISIBLE | SS_ETCHEDHORZ, 8, kStripTop, kWizardClientWidth - 16, 2, 0);
}

void Setup::BuildPage(const PageSpec& spec) {
  int id = kFirstId + static_cast<int>(controls_.size() + buttons_.size());
  int y = 12;
  int outcomeTop = -1;
  int listCaptionTop = -1;  // the library notice stands in the list's place
  for (const ControlSpec& c : spec.controls) {
    const int w = c.width > 0 ? c.width : kContentWidth;
    HWND hwnd = nullptr;
    int h = 0;
    int top = y;
    switch (c.kind) {
      case ControlKind::Picture:
        h = c.height;
        hwnd = Child(window_, L"STATIC", L"", SS_ICON | SS_CENTERIMAGE, kContentLeft, top, c.width, h, id);
        SendMessageW(hwnd, STM_SETICON, reinterpret_cast<WPARAM>(LoadIconW(nullptr, MAKEINTRESOURCEW(32516))),
                     0);  // IDI_INFORMATION
        break;
      case ControlKind::Heading:
      case ControlKind::Text:
      case ControlKind::Notice:
      case ControlKind::Outcome:
        if (c.name == "Label6") listCaptionTop = top;
        if (c.kind == ControlKind::Notice && listCaptionTop >= 0) top = listCaptionTop;
        if (c.kind == ControlKind::Outcome) {
          if (outcomeTop >= 0) top = outcomeTop;  // both results stand at one place
          outcomeTop = top;
        }
        hwnd = Child(window_, L"STATIC", Shown(c.text), SS_LEFT | SS_NOPREFIX, kContentLeft, top, w, kLineHeight, id);
        if (c.kind == ControlKind::Heading) SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(bold_), FALSE);
        // The library notice is filled later; it may take the list's room.
        h = c.kind == ControlKind::Notice ? 97 + kLineHeight + kGap : kLineHeight * Lines(hwnd, c.text, w) + 3;
        Place(hwnd, kContentLeft, top, w, h);
        break;
      case ControlKind::Memo: {
        h = c.height > 0 ? c.height : 60;
        DWORD style = ES_MULTILINE | ES_READONLY | WS_TABSTOP;
        if (c.scrollbars != Scrollbars::None) style |= WS_VSCROLL;
        if (c.scrollbars == Scrollbars::Both) style |= WS_HSCROLL | ES_AUTOHSCROLL;
        hwnd =
            Child(window_, L"EDIT", Shown(c.text), style, kContentLeft, top, w, h, id, c.framed ? WS_EX_CLIENTEDGE : 0);
        break;
      }
      case ControlKind::Edit: {
        h = 21;
        DWORD style = WS_TABSTOP | ES_AUTOHSCROLL | (c.digitsOnly ? ES_NUMBER : 0);
        hwnd = Child(window_, L"EDIT", Wide(c.text), style, kContentLeft, top, w, h, id, WS_EX_CLIENTEDGE);
        if (c.maxLength > 0) SendMessageW(hwnd, EM_SETLIMITTEXT, static_cast<WPARAM>(c.maxLength), 0);
        if (c.name == "edIP") fields_[id] = Field::edIP;
        if (c.name == "mePort") fields_[id] = Field::mePort;
        break;
      }
      case ControlKind::List:
        h = c.height;
        hwnd = Child(window_, L"LISTBOX", L"", WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT,
                     kContentLeft, top, w, h, id, WS_EX_CLIENTEDGE);
        list_ = hwnd;
        break;
      case ControlKind::Check:
        h = 17;
        hwnd = Child(window_, L"BUTTON", Wide(c.text), WS_TABSTOP | BS_CHECKBOX, kContentLeft, top, w, h, id);
        for (const Check check : {Check::chSPass, Check::chNoRestore, Check::chNoAfter, Check::chProtocol}) {
          if (c.name == CheckName(check)) checks_[id] = check;
        }
        break;
    }
    controls_.push_back({hwnd, spec.page, c.kind, c.name, c.visible});
    if (!c.name.empty()) named_[c.name] = hwnd;
    ++id;
    // A hidden control takes no room; the notice stands where the list is.
    if (c.visible) y = top + h + kGap;
  }
  // The bottom strip: back, forward and cancel, left to right at the right.
  for (const ButtonSpec& b : spec.buttons) {
    const int left = kWizardClientWidth - 8 - (3 - b.slot) * (kStripButtonWidth + 6) + 6;
    HWND hwnd = Child(window_, L"BUTTON", Wide(b.caption), WS_TABSTOP | (b.isDefault ? BS_DEFPUSHBUTTON : 0), left,
                      kStripTop + (kStripHeight - kStripButtonHeight) / 2, kStripButtonWidth, kStripButtonHeight, id);
    buttons_[id] = {hwnd, spec.page, b.action};
    named_[b.name] = hwnd;
    ++id;
  }
}

HWND Setup::Find(const std::string& name) const {
  const auto it = named_.find(name);
  return it != named_.end() ? it->second : nullptr;
}

void Setup::FormCreate(const std::vector<std::string>& args) {
  model_.FormCreate(args);
  SetText(window_, Wide(model_.WindowTitle()));
  Refresh();
  CentreOn(window_, nullptr);
}

void Setup::OnCommand(int id, int notification, HWND from) {
  if (refreshing_) return;
  if (const auto b = buttons_.find(id); b != buttons_.end()) {
    if (notification == BN_CLICKED) Run(b->second.action);
    return;
  }
  if (const auto c = checks_.find(id); c != checks_.end()) {
    if (notification == BN_CLICKED) {
      model_.Click(c->second, !model_.Ticked(c->second));
      Refresh();
    }
    return;
  }
  if (const auto f = fields_.find(id); f != fields_.end()) {
    if (notification == EN_CHANGE) {
      std::optional<std::string> text;
      try {
        text = Narrow(Text(from));
      } catch (const TextConversionError&) {
        text.reset();  // a character the core cannot hold
      }
      model_.SetFieldText(f->second, text);
    }
    return;
  }
  if (from == list_ && list_ != nullptr) {
    if (notification == LBN_SELCHANGE) {
      model_.SelectNamespace(static_cast<int>(SendMessageW(list_, LB_GETCURSEL, 0, 0)));
    }
    return;
  }
  if (id == IDOK) {
    // Enter where the focus is on no button (the dialog manager sends the
    // focused button's own command otherwise).
    std::optional<Action> focused;
    if (const auto b = buttons_.find(GetDlgCtrlID(GetFocus())); b != buttons_.end()) focused = b->second.action;
    if (const auto action = model_.EnterAction(focused)) Run(*action);
    return;
  }
  if (id == IDCANCEL) {
    // Esc, also when a multi-line text box turned it into WM_CLOSE.
    if (const auto action = model_.EscAction()) Run(*action);
  }
}

void Setup::Run(Action action) {
  model_.Trigger(action);
  Refresh();
}

void Setup::SetMemo(HWND memo, const std::vector<std::string>& lines) {
  auto& shown = memoShown_[memo];
  if (shown == lines) return;
  shown = lines;
  std::wstring text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) text += L"\r\n";
    text += Wide(lines[i]);
  }
  SetText(memo, text);
}

void Setup::Refresh() {
  refreshing_ = true;
  const Page page = model_.CurrentPage();
  if (HWND info = Find("mmProductInfo")) SetMemo(info, model_.ProductInfoLines());
  if (HWND licence = Find("mmLicence")) SetMemo(licence, model_.LicenceLines());
  if (HWND settings = Find("mmSettings")) SetMemo(settings, model_.SettingsLines());
  for (const auto& [id, field] : fields_) {
    HWND edit = GetDlgItem(window_, id);
    const std::wstring want = Wide(model_.FieldText(field));
    if (Text(edit) != want) SetText(edit, want);
  }
  if (list_ != nullptr && listShown_ != model_.Namespaces()) {
    listShown_ = model_.Namespaces();
    SendMessageW(list_, LB_RESETCONTENT, 0, 0);
    for (const std::string& ns : listShown_) {
      SendMessageW(list_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(ns).c_str()));
    }
  }
  if (list_ != nullptr) SendMessageW(list_, LB_SETCURSEL, static_cast<WPARAM>(model_.SelectedNamespace()), 0);
  if (HWND notice = Find("lbCachelib")) {
    std::string text;
    for (const std::string& line : model_.LibraryNoticeLines()) text += (text.empty() ? "" : "\n") + line;
    SetText(notice, Shown(text));
  }
  for (const auto& [id, check] : checks_) {
    HWND box = GetDlgItem(window_, id);
    const bool ticked = model_.Ticked(check);
    if ((SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED) != ticked) {
      SendMessageW(box, BM_SETCHECK, ticked ? BST_CHECKED : BST_UNCHECKED, 0);
      TraceLine(std::string("tick ") + CheckName(check) + (ticked ? " 1" : " 0"));
    }
  }
  // Which controls show: the current page's, as the table and the model's
  // state say.
  for (const Control& c : controls_) {
    bool visible = c.page == page && c.visible;
    if (c.name == "llNS" || c.name == "Label6") visible = c.page == page && !model_.LibraryMode();
    if (c.name == "lbCachelib") visible = c.page == page && model_.LibraryMode();
    if (c.name == "mmSuccess") visible = c.page == page && model_.Succeeded();
    if (c.name == "mmFailed") visible = c.page == page && !model_.Succeeded();
    ShowWindow(c.hwnd, visible ? SW_SHOWNA : SW_HIDE);
    if (c.name == "llNS") EnableWindow(c.hwnd, !model_.LibraryMode());
  }
  for (const auto& [id, b] : buttons_) ShowWindow(b.hwnd, b.page == page ? SW_SHOWNA : SW_HIDE);
  // Enter's default: the page's default button, none on the licence page.
  const ButtonSpec* def = PageLayout(page).DefaultButton();
  SendMessageW(window_, DM_SETDEFID, def != nullptr ? static_cast<WPARAM>(GetDlgCtrlID(Find(def->name))) : IDOK, 0);
  if (page != shown_ || !pageShownOnce_) {
    shown_ = page;
    pageShownOnce_ = true;
    TraceLine(std::string("page ") + PageName(page));
    if (def != nullptr) SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Find(def->name)), TRUE);
  }
  const std::string focus = model_.TakeFocusRequest();
  if (HWND target = Find(focus)) {
    SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(target), TRUE);
    // A text to read gets the caret at its start, not all of it selected.
    if ((GetWindowLongPtrW(target, GWL_STYLE) & ES_READONLY) != 0) SendMessageW(target, EM_SETSEL, 0, 0);
  }
  refreshing_ = false;
}

Answer Setup::Ask(const Prompt& prompt) {
  Answer answer;
  switch (prompt.kind) {
    case PromptKind::Message: {
      std::wstring text = Wide(prompt.text);
      if (!prompt.file.empty()) text += L"\n" + prompt.file.wstring();
      ui_.ShowMessageText(text);
      break;
    }
    case PromptKind::YesNo:
      answer.accepted = ui_.AskYesNo(prompt.text, prompt.defaultNo);
      break;
    case PromptKind::Password:
      TraceLine("ask Password");
      answer.accepted = pass_ != nullptr && pass_->Ask();
      if (pass_ != nullptr) {
        try {
          answer.text = Narrow(pass_->Typed());
        } catch (const TextConversionError&) {
          answer.text.reset();
        }
      }
      break;
    case PromptKind::Exit:
      TraceLine("ask Exit");
      answer.accepted = exit_ == nullptr || exit_->AskStay();
      break;
  }
  return answer;
}

void Setup::RunOnLinkThread(const std::function<void()>& call) { ui_.RunOnLinkThread(call); }

void Setup::Terminate() { PostQuitMessage(0); }

// The picture panel at the left: a raised panel with the product's
// emblem drawn in the background's colours.
void Setup::PaintImagePanel(HDC dc) {
  RECT panel{Px(kImagePanel.left), Px(kImagePanel.top), Px(kImagePanel.left + kImagePanel.width),
             Px(kImagePanel.top + kImagePanel.height)};
  DrawEdge(dc, &panel, EDGE_RAISED, BF_RECT | BF_ADJUST);
  const int h = panel.bottom - panel.top;
  for (int i = 0; i < h; ++i) {
    HBRUSH band = CreateSolidBrush(RGB(0, 128 - i * 80 / h, 128 + i * 60 / h));
    RECT line{panel.left, panel.top + i, panel.right, panel.top + i + 1};
    FillRect(dc, &line, band);
    DeleteObject(band);
  }
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(255, 255, 255));
  HGDIOBJ old = SelectObject(dc, bold_);
  RECT text = panel;
  text.top += h / 2 - Px(8);
  DrawTextW(dc, L"Velmora", -1, &text, DT_CENTER | DT_SINGLELINE);
  SelectObject(dc, old);
}

}  // namespace dorvik::win

// fmAskUser: a question from a post-action and a line for the answer.
#include <memory>

#include "dialogs.h"
#include "win_base.h"

namespace dorvik::win {

namespace {

constexpr int kDesignWidth = 177;
constexpr int kDesignHeight = 79;
constexpr int kLabelWidth = 161;
constexpr int kLineHeight = 13;

enum : int { kPanel = 80, kLbAsk = 81, kEdAsk = 82 };

}  // namespace

AskUserDialog::AskUserDialog(HWND owner, std::wstring question, std::wstring caption, std::wstring defaultAnswer)
    : question_(std::move(question)), defaultAnswer_(std::move(defaultAnswer)) {
  Create(L"fmAskUser", caption.empty() ? std::wstring(L"Введите ответ") : caption, WS_SYSMENU, owner);
}

void AskUserDialog::OnInit() {
  HWND panel = Child(window_, L"STATIC", L"", WS_VISIBLE | SS_SUNKEN, 0, 0, kDesignWidth, kDesignHeight, kPanel);
  // Created in the tab order: "OK", "Отмена", then the field, so the dialog
  // opens on "OK" and Enter accepts the offered answer at once.
  HWND ok = Child(window_, L"BUTTON", L"OK", WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 6, 48, 75, 24, IDOK);
  HWND cancel = Child(window_, L"BUTTON", L"Отмена", WS_VISIBLE | WS_TABSTOP, 94, 48, 75, 24, IDCANCEL);
  HWND label =
      Child(window_, L"STATIC", L"Вопрос", WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 8, 8, kLabelWidth, kLineHeight, kLbAsk);
  HWND field = Child(window_, L"EDIT", defaultAnswer_, WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, 7, 24, kLabelWidth, 21,
                     kEdAsk, WS_EX_CLIENTEDGE);
  lines_ =
      CountQuestionLines(question_, kLabelWidth, [label](std::wstring_view text) { return TextWidth(label, text); });
  SetText(label, QuestionLabelText(question_));
  const int extra = lines_ - 1;
  const int shift = extra * kLineHeight + 2;
  SetClientSize(window_, kDesignWidth, kDesignHeight + extra * kLineHeight);
  Place(panel, 0, 0, kDesignWidth, kDesignHeight + extra * kLineHeight);
  Place(label, 8, 8, kLabelWidth, kLineHeight * lines_);
  Place(field, 7, 24 + shift, kLabelWidth, 21);
  Place(ok, 6, 48 + shift, 75, 24);
  Place(cancel, 94, 48 + shift, 75, 24);
  SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(ok), TRUE);
}

std::wstring AskUserDialog::Answer() const { return Text(Item(kEdAsk)); }

bool AskUserDialog::OnCommand(int id, int) {
  if (id == IDOK || id == IDCANCEL) {
    End(id);
    return true;
  }
  return false;
}

std::wstring AskUser(const std::wstring& question, const std::wstring& caption, const std::wstring& defaultAnswer,
                     HWND owner, const RECT& keepVisible) {
  std::wstring answer;
  try {
    auto dialog = std::make_unique<AskUserDialog>(owner, question, caption, defaultAnswer);
    if (keepVisible.right > keepVisible.left) {
      PlaceClearOf(dialog->hwnd(), keepVisible);
    } else {
      CentreOn(dialog->hwnd(), nullptr);
    }
    if (dialog->ShowModal() == IDOK) answer = dialog->Answer();
  } catch (...) {
    // A failure closes the dialog; the answer is what was reached.
  }
  return answer;
}

}  // namespace dorvik::win

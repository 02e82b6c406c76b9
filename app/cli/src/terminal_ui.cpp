#include "terminal_ui.h"

#include <algorithm>
#include <cstdio>

#include "console.h"
#include "distribution/codepage.h"
#include "distribution/funcs.h"
#include "interrupt.h"

namespace dorvik::cli {

namespace {

// Lower case of code page 1251 text: Latin and Cyrillic letters.
std::string Lower(std::string text) {
  for (char& c : text) {
    const auto b = static_cast<unsigned char>(c);
    if ((b >= 'A' && b <= 'Z') || (b >= 0xC0 && b <= 0xDF)) c = static_cast<char>(b + 0x20);
    if (b == 0xA8) c = static_cast<char>(0xB8);  // Ё
  }
  return text;
}

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::vector<std::string> Buttons(const std::string& captions) {
  std::vector<std::string> out;
  for (int i = 1; i <= CountChar(captions, '_') + 1; ++i) out.push_back(Piece(captions, '_', i));
  return out;
}

// The number of the button an answer names ("1", "2", ... or a caption in
// any letter case); 0 when it names none.
int ButtonOf(const std::string& answer, const std::vector<std::string>& buttons) {
  const std::string a = Lower(Trim(answer));
  for (std::size_t i = 0; i < buttons.size(); ++i) {
    if (a == std::to_string(i + 1) || a == Lower(buttons[i])) return static_cast<int>(i + 1);
  }
  return 0;
}

// CR LF and lone CR inside a message become line feeds.
std::string Lines(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace

TerminalUi::TerminalUi(const LocaleText& text, TerminalUiConfig config) : text_(text), config_(config) {}

TerminalUi::~TerminalUi() { ClearLine(); }

void TerminalUi::Attach(RunState& run, InstallLog& log) {
  run_ = &run;
  log_ = &log;
}

void TerminalUi::Write(const std::string& localText) {
  ClearLine();
  PutText(stderr, localText + "\n");
  std::fflush(stderr);
  Render();
}

void TerminalUi::Say(const std::string& text) { Write(text_.Show(Lines(text))); }

void TerminalUi::ClearLine() {
  if (drawn_.empty()) return;
  PutText(stderr, "\r\x1b[K");
  std::fflush(stderr);
  drawn_.clear();
}

std::string TerminalUi::ProgressLine() const {
  std::string line = stage_;
  if (!postMode_ && !element_.empty()) line += " " + element_;
  if (height_ >= kProgressGauge && gaugeVisible_) line += " " + std::to_string(ProgressPercent()) + "%";
  if ((timeVisible_ || postMode_) && !timeText_.empty()) line += "  " + timeText_;
  return line;
}

void TerminalUi::Render() {
  if (config_.quiet || !visible_) return;
  if (config_.progressTerminal) {
    std::string line = ProgressLine();
    const auto columns = static_cast<std::size_t>(std::max(TerminalColumns() - 1, 10));
    if (line.size() > columns) line.resize(columns);  // one byte is one character in 1251
    if (line == drawn_) return;
    PutText(stderr, "\r" + text_.Show(line) + "\x1b[K");
    std::fflush(stderr);
    drawn_ = line.empty() ? " " : line;
    return;
  }
  if (!stage_.empty() && stage_ != printedStage_) {
    printedStage_ = stage_;
    PutText(stderr, text_.Show(stage_) + "\n");
  }
  if (!postMode_ && !element_.empty() && element_ != printedElement_) {
    printedElement_ = element_;
    PutText(stderr, "  " + text_.Show(element_) + "\n");
  }
  std::fflush(stderr);
}

void TerminalUi::SetStage(const std::string& text) { stage_ = text; }
void TerminalUi::SetElement(const std::string& text) { element_ = text; }
void TerminalUi::SetProgressMax(int max) {
  max_ = max;
  position_ = std::clamp(position_, 0, std::max(max_, 0));
}
void TerminalUi::SetProgress(int position) { position_ = std::clamp(position, 0, std::max(max_, 0)); }

void TerminalUi::SetTimeText(const std::string& text) {
  timeText_ = text;
  Render();
}

void TerminalUi::ShowProgress() {
  visible_ = true;
  Render();
}

void TerminalUi::HideProgress() {
  ClearLine();
  visible_ = false;
}

void TerminalUi::CloseProgress() { HideProgress(); }

void TerminalUi::RefreshProgress() { Render(); }

void TerminalUi::EnterPostActionMode() {
  postMode_ = true;
  height_ = kProgressPostActions;
  timeText_.clear();
}

void TerminalUi::AppendAfterLine(const std::string& text) {
  postLines_.push_back(Trim(text));
  if (config_.quiet) return;
  Say(text);
}

void TerminalUi::ShowMessage(const std::string& text) {
  messages_.push_back(text);
  Say(text);
}

void TerminalUi::ProcessMessages() {
  if (TakeInterrupt() && run_ != nullptr) run_->UserAbort = true;
  Render();
}

void TerminalUi::OpenFile(const std::filesystem::path& file, const std::filesystem::path&) {
  std::error_code ec;
  if (config_.quiet || !std::filesystem::is_regular_file(file, ec)) return;
  Write(text_.Show(Ru("Прочтите: ")) + PathText(file));
}

bool TerminalUi::ReadAnswer(const std::string& prompt, std::string& answer) {
  ClearLine();
  PutText(stderr, text_.Show(prompt));
  std::fflush(stderr);
  std::string line;
  if (!ReadLine(line)) {
    std::fputc('\n', stderr);
    return false;
  }
  try {
    answer = text_.Take(line);
  } catch (const TextConversionError&) {
    answer = "\x01";  // names no button and is refused by the caller's loop
  }
  return true;
}

std::string TerminalUi::NoAnswerReason() const {
  return config_.answers != nullptr ? Ru("Ответ по умолчанию: ответы файла ответов кончились, терминала нет.")
                                    : Ru("Ответ по умолчанию: вопрос задан без терминала и без файла ответов.");
}

void TerminalUi::NoteDefault(const std::string& why) {
  if (log_ != nullptr) log_->Add("  " + why);
}

bool TerminalUi::Confirm(const std::string& text, bool defaultYes, bool fallback) {
  if (!config_.interactive) return fallback;
  const std::vector<std::string> buttons{Ru("Да"), Ru("Нет")};
  const std::string prompt = text + (defaultYes ? Ru(" [Да/нет]: ") : Ru(" [да/Нет]: "));
  for (;;) {
    std::string answer;
    if (!ReadAnswer(prompt, answer)) return false;
    if (Trim(answer).empty()) return defaultYes;
    const int button = ButtonOf(answer, buttons);
    if (button != 0) return button == 1;
  }
}

bool TerminalUi::AskYesNo(const std::string& text, bool defaultNo) {
  // Asked after Ctrl-C: without a terminal nobody can say "go on".
  const bool interrupted = text == Ru("Прервать установку?");
  const bool ask = config_.interactive && (interrupted || !config_.defaults);
  if (!ask) {
    Say(text + " " + (interrupted ? Ru("Да") : Ru("Нет")));
    return interrupted;
  }
  return Confirm(text, !defaultNo, false);
}

int TerminalUi::RunKelbox(const KelboxRequest& request) {
  const std::vector<std::string> buttons = Buttons(request.buttons);
  const int byDefault = std::clamp(request.focusButton, 1, static_cast<int>(buttons.size()));
  const int onCancel = request.escResult > 0 ? request.escResult : byDefault;
  if (config_.answers != nullptr) {
    if (const auto answer = config_.answers->Next()) {
      const int button = ButtonOf(*answer, buttons);
      Say(request.message + " " + (button != 0 ? buttons[button - 1] : *answer));
      if (button != 0) return button;
      const std::string why = Ru("Ответ \"") + *answer + Ru("\" (строка ") +
                              std::to_string(config_.answers->LineNumber()) +
                              Ru(" файла ответов) не называет ни одной кнопки: вопрос закрыт, как по Esc");
      Say(why);
      NoteDefault(why);
      return onCancel;
    }
  }
  if (config_.defaults) {
    Say(request.message + " " + buttons[byDefault - 1]);
    return byDefault;
  }
  if (!config_.interactive) {
    Say(request.message + " " + buttons[byDefault - 1]);
    NoteDefault(NoAnswerReason());
    return byDefault;
  }
  std::string choices;
  for (std::size_t i = 0; i < buttons.size(); ++i) {
    choices += (i == 0 ? "" : " / ") + std::to_string(i + 1) + " " + buttons[i];
  }
  const std::string prompt = request.message + " [" + choices + "] (" + buttons[byDefault - 1] + "): ";
  for (;;) {
    std::string answer;
    if (!ReadAnswer(prompt, answer)) return onCancel;
    if (Trim(answer).empty()) return byDefault;
    if (const int button = ButtonOf(answer, buttons); button != 0) return button;
  }
}

std::string TerminalUi::AskUser(const std::string& question, const std::string&, const std::string& defaultAnswer) {
  if (config_.answers != nullptr) {
    if (auto answer = config_.answers->Next()) {
      Say(question + " " + *answer);
      return *answer;
    }
  }
  if (config_.defaults) {
    Say(question + " " + defaultAnswer);
    return defaultAnswer;
  }
  if (!config_.interactive) {
    Say(question + " " + defaultAnswer);
    NoteDefault(NoAnswerReason());
    return defaultAnswer;
  }
  std::string answer;
  if (!ReadAnswer(question + (defaultAnswer.empty() ? ": " : " [" + defaultAnswer + "]: "), answer)) return "";
  if (answer == "\x01") return "";
  return answer.empty() ? defaultAnswer : answer;
}

}  // namespace dorvik::cli

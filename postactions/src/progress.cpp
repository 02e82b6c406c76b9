#include "distribution/codepage.h"
#include "distribution/funcs.h"
#include "distribution/timefmt.h"
#include "postactions/postinstall.h"

namespace dorvik {

PostActionProgress::PostActionProgress(Session& s, double runStart)
    : s_(s), runStart_(runStart), messageStart_(runStart) {}

PostActionProgress::~PostActionProgress() { Flush(); }

void PostActionProgress::Log(std::string line) {
  Flush();
  openLine_ = std::move(line);
  open_ = true;
}

void PostActionProgress::CloseLastLine() {
  if (!open_) return;  // only the run's own lines get a duration
  openLine_ += " - " + FormatLongTime(TimeDiff(messageStart_, s_.clock.TimeOfDay()));
}

void PostActionProgress::Flush() {
  if (!open_) return;
  open_ = false;
  s_.log.Add(std::move(openLine_));
  openLine_.clear();
}

void PostActionProgress::ShowPostActionMessage(int percent, const std::string& text) {
  if (!text.empty()) {
    const std::string line = Cp866ToCp1251(text);
    if (listEmpty_) {
      Log(line);
      messageStart_ = s_.clock.TimeOfDay();
      s_.ui.AppendAfterLine("  " + line);
      listEmpty_ = false;
    }
    const std::string& last = open_ ? openLine_ : (s_.log.Lines().empty() ? std::string() : s_.log.Lines().back());
    if (line != last) {
      CloseLastLine();
      Log(line);
      messageStart_ = s_.clock.TimeOfDay();
      s_.ui.AppendAfterLine("  " + line);
    }
  }
  s_.ui.SetProgress(percent);
  s_.ui.RefreshProgress();
  s_.ui.SetAppTitle(Ru("Установка ") + s_.dist.ProductName + " " + s_.dist.Version +
                    Ru("  Выполнение последействий: ") + std::to_string(s_.ui.ProgressPercent()) + "%");
  s_.ui.ProcessMessages();
}

}  // namespace dorvik

// The post-actions of a distribution: the server routine the installer
// generates to run them in a background job, and the installer's side that
// uploads it, starts the job, relays its progress messages and questions to
// the user and reads its result.
//
// Texts are code page 1251 bytes unless said otherwise; the server side and
// the messages of the job are in code page 866.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "distribution/routine_name.h"  // IsValidEntryReference, FindUnfitPostAction
#include "core/session.h"

namespace dorvik {

// The lines of the generated routine: element 0 is the name the routine is
// saved under, elements 1 onward are its lines (75 + 2n elements for n
// post-actions; empty when there are none). Labels go into the text as they
// are; descriptions (1251) and the product line are converted to 866, and a
// double quote inside a description is doubled so that the line stays
// valid M.
std::vector<std::string> BuildPostActionRoutine(const std::vector<std::string>& labels,
                                                const std::vector<std::string>& descriptions,
                                                const std::string& routineName, const std::string& productName,
                                                const std::string& version);
// The same from the session's distribution and routine name.
std::vector<std::string> BuildPostActionRoutine(const Session& s);

// An M expression whose value is `text`: a string literal with doubled
// double quotes; control characters are joined in as $C(n).
std::string MStringExpression(std::string_view text);

// The post-action phase of the installation. True when the post-actions
// succeeded or there was nothing to do; false when they failed (the failure
// is shown and logged). Never throws.
bool RunPostActionPhase(Session& s);

// The user's answer to a question of the job. `message` is "t#l#def" in
// code page 866; the answer goes back in code page 866: "1" or "2" for a
// yes/no question (t = "1"), the text entered otherwise ("" when cancelled).
std::string AnswerJobQuestion(Session& s, const std::string& message);

// One post-action run as the user sees it: the message list, the log lines
// with the duration of each message, the gauge and the application title.
class PostActionProgress {
 public:
  PostActionProgress(Session& s, double runStart);
  ~PostActionProgress();
  PostActionProgress(const PostActionProgress&) = delete;
  PostActionProgress& operator=(const PostActionProgress&) = delete;

  // A progress message of the job (text in code page 866, "" allowed): a
  // new text is logged and appended to the message list, the text before it
  // gets its duration; the same text again only moves the gauge.
  void ShowPostActionMessage(int percent, const std::string& text);

  // Log lines written during the run. The last one stays open until it is
  // known whether its duration follows it.
  void Log(std::string line);
  // Appends " - " + the time since the current message began to the last line.
  void CloseLastLine();
  // Writes the open line to the install log.
  void Flush();

  double RunStart() const { return runStart_; }

 private:
  Session& s_;
  double runStart_;
  double messageStart_;
  bool listEmpty_ = true;
  bool open_ = false;
  std::string openLine_;
};

}  // namespace dorvik

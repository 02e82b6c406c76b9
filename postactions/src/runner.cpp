#include <optional>

#include "distribution/codepage.h"
#include "distribution/funcs.h"
#include "distribution/timefmt.h"
#include "postactions/postinstall.h"
#include "routine_upload.h"
#include "core/whole_number.h"

namespace dorvik {

namespace {

constexpr std::uint32_t kFirstPollDelayMs = 2000;
constexpr std::uint32_t kPollIntervalMs = 100;
constexpr char kPercentMark = '\x01';
constexpr char kQuestionMark = '\x02';

// One run of the post-action phase.
class Runner {
 public:
  explicit Runner(Session& s) : s_(s), routine_(s.files.PostActionRoutineName) {}

  bool Run() {
    if (!s_.options.RunPostActions) {
      s_.log.Add("");
      s_.log.Add(Ru("Метки последействия не выполнялись"));
      return true;
    }
    s_.log.Add("");
    s_.log.Add(Ru("Выполнение меток последействия."));
    s_.ui.EnterPostActionMode();
    const double runStart = Now();
    progress_.emplace(s_, runStart);
    Log(Ru("Начало: ") + FormatLongTime(runStart));
    if (s_.dist.PostActionLabels.empty()) return true;
    RefuseUnfitPostActions();

    s_.ui.SetStage(Ru("Завершающие стадии установки..."));
    s_.ui.SetProgressMax(100);
    s_.ui.SetProgress(0);
    s_.ui.SetAnimation(Animation::CopyFiles);
    s_.ui.ShowProgress();
    s_.ui.RefreshProgress();

    const std::vector<std::string> lines = BuildPostActionRoutine(s_);
    if (!UploadGeneratedRoutine(s_, lines, [this](std::string line) { Log(std::move(line)); })) {
      throw OperationAborted();
    }

    s_.link.SetValue("");
    s_.link.RunCode("$$job^" + routine_);
    CheckServerCall();
    if (s_.link.GetValue() == "0") {
      RunInForeground();
    } else {
      RunInBackground();
    }
    return ReadResult();
  }

  // Every failure ends here: logged after the lines written before it.
  void LogFailure(const std::string& message) {
    Log(AppFailureLine(message));
    if (progress_) progress_->Flush();
  }

 private:
  double Now() { return s_.clock.TimeOfDay(); }

  void Log(std::string line) {
    if (progress_) {
      progress_->Log(std::move(line));
    } else {
      s_.log.Add(std::move(line));
    }
  }

  // A label or description that cannot go into the generated routine as
  // valid M is a damaged distribution: nothing of it is sent to the server.
  void RefuseUnfitPostActions() {
    const int unfit = FindUnfitPostAction(s_.dist);
    if (unfit < 0) return;
    const auto k = static_cast<std::size_t>(unfit);
    const std::string label = k < s_.dist.PostActionLabels.size() ? s_.dist.PostActionLabels[k] : std::string();
    s_.ui.SetAnimation(Animation::None);
    s_.ui.ShowMessage(Ru("Ошибка в структуре дистрибутива"));
    Log(Ru("Ошибка в структуре дистрибутива: последействие ") + std::to_string(unfit + 1) + " (" + label + ")");
    throw OperationAborted();
  }

  void CheckServerCall() {
    if (s_.link.ErrorCode() == 0) return;
    const std::string error = s_.link.ErrorText();
    StopAfterServerError(s_, Ru("Ошибка! ") + error, error, [this](std::string line) { Log(std::move(line)); });
  }

  // Message n of the job's list, "" when it has not been written yet.
  std::string ReadMessage() {
    s_.link.RunCode("$g(^R(\"dorvik\",\"" + std::to_string(n_) + "\"))");
    CheckServerCall();
    return s_.link.GetValue();
  }

  void ShowProgressMessage(const std::string& message) {
    const std::string text = Piece(message, kPercentMark, 1);
    const std::string percent = Piece(message, kPercentMark, 2);
    progress_->ShowPostActionMessage(percent.empty() ? s_.ui.Progress() : ParseWholeNumber(percent), text);
  }

  void RelayQuestion(const std::string& message) {
    const std::string question = Piece(message, kQuestionMark, 2);
    Log(Ru("  Запрос параметра у пользователя."));
    Log(Ru("  Параметры запроса: ") + Cp866ToCp1251(question));
    // The interface may log how the question was answered: after these lines.
    progress_->Flush();
    const std::string answer = AnswerJobQuestion(s_, question);
    Log(Ru("  Ответ пользователя: ") + Cp866ToCp1251(answer));
    Log(" ");
    // The answer travels as a string expression: quotes doubled, control
    // characters as $C(n), so no answer can become code.
    s_.link.RunCode("$$SetAnswer^" + routine_ + "(" + MStringExpression(answer) + ")");
    CheckServerCall();
  }

  bool JobAlive() {
    s_.link.SetValue("");
    s_.link.RunCode("$$jalive^" + routine_);
    CheckServerCall();
    return s_.link.GetValue() == "1";
  }

  void RunInBackground() {
    s_.clock.Sleep(kFirstPollDelayMs);
    n_ = 1;
    bool alive = JobAlive();
    while (alive) {
      const std::string message = ReadMessage();
      if (!message.empty()) {
        ++n_;
        if (message[0] == kQuestionMark) {
          RelayQuestion(message);
        } else {
          ShowProgressMessage(message);
        }
      }
      s_.ui.SetTimeText(Ru("Прошло: ") + FormatLongTime(TimeDiff(progress_->RunStart(), Now())));
      s_.ui.RefreshProgress();
      s_.clock.Sleep(kPollIntervalMs);
      s_.ui.ProcessMessages();
      alive = JobAlive();
    }
    // The job has ended: what it wrote since the last round is read at once.
    for (std::string message = ReadMessage(); !message.empty(); message = ReadMessage()) {
      ++n_;
      ShowProgressMessage(message);
    }
    progress_->CloseLastLine();
  }

  void RunInForeground() {
    Log(Ru("Не удалось стартовать фоновое задаение для выполнения последействий."));
    Log(Ru("Выполнение последействий пойдет без вывода сообщений о прогрессе"));
    s_.ui.SetGaugeVisible(false);
    const std::string code = "$$stf^" + routine_;
    Log(code);
    s_.link.RunCode(code);
    CheckServerCall();
  }

  bool ReadResult() {
    s_.link.RunCode("$g(^R(\"dorvik\"))");
    CheckServerCall();
    const std::string value = s_.link.GetValue();
    if (!value.empty()) {
      const std::string reason = Cp866ToCp1251(value);
      s_.ui.SetAnimation(Animation::None);
      s_.ui.ShowMessage(reason);
      Log(Ru("Неуспех. ") + reason);
      throw OperationAborted();
    }
    s_.link.Execute("k ^R(\"dorvik\")");  // the result and the message list
    const double runEnd = Now();
    Log(Ru("Последействия упешно выполнены."));
    Log(Ru("Продолжительность выполнения последействий ") + FormatLongTime(TimeDiff(progress_->RunStart(), runEnd)));
    Log("");
    return true;
  }

  Session& s_;
  std::string routine_;
  std::optional<PostActionProgress> progress_;
  std::int64_t n_ = 1;
};

}  // namespace

bool RunPostActionPhase(Session& s) {
  Runner runner(s);
  try {
    return runner.Run();
  } catch (const std::exception& e) {
    try {
      runner.LogFailure(e.what());
    } catch (...) {
    }
    return false;
  } catch (...) {
    try {
      runner.LogFailure("unknown failure");
    } catch (...) {
    }
    return false;
  }
}

}  // namespace dorvik

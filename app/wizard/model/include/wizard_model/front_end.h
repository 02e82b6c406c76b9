// What the wizard model asks of a front end (the Qt windows, the Win32
// windows, a test): to show a message or put a question and answer what the
// user chose, to run a server call on the thread that owns the link while
// the windows stay alive, to draw the model again, and to end the program.
//
// The model calls these on the interface thread only, from inside its
// handlers; each call returns when the front end has done it.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace dorvik {

enum class PromptKind {
  // The platform's standard message box with one OK button, titled
  // "Velmora Installation Wizard".
  Message,
  // A Yes/No box titled "Velmora Installation Wizard", no icon; "Да"/"Нет".
  YesNo,
  // The password dialog fmPass, modal; it keeps the text typed last time.
  Password,
  // The exit dialog fmExit, modal.
  Exit,
};

struct Prompt {
  PromptKind kind = PromptKind::Message;
  // Message, YesNo: the text, code page 1251.
  std::string text;
  // Message: a file whose full path the front end shows on a line of its
  // own below the text, in the platform's spelling; empty: none.
  std::filesystem::path file;
  // YesNo: "Нет" is the default button (Enter answers No).
  bool defaultNo = true;

  bool operator==(const Prompt&) const = default;
};

struct Answer {
  // YesNo: "Да". Password: "ОК". Exit: "Продолжить", Enter or Esc (stay);
  // false for "Выход" or the dialog's own close button (leave). Ignored
  // after a Message.
  bool accepted = false;
  // Password: what the field holds, code page 1251; nullopt when it holds a
  // character that code page lacks.
  std::optional<std::string> text;
};

class WizardFrontEnd {
 public:
  virtual ~WizardFrontEnd() = default;

  // Shows the prompt modally, in front of the wizard, and answers the
  // user's choice.
  virtual Answer Ask(const Prompt& prompt) = 0;

  // Runs `call` on the link thread and returns when it has finished,
  // throwing again what it threw. Meanwhile the interface thread keeps the
  // windows painted and animated, holds back the user's input to them and
  // takes Esc in the background and the progress window. `call` reaches the
  // windows only through the session's InstallerUi.
  virtual void RunOnLinkThread(const std::function<void()>& call) = 0;

  // The model's state changed (page, fields, ticks, texts, focus): draw it.
  virtual void Refresh() = 0;

  // Requests the end of the program; it takes effect when control is back
  // in the message loop.
  virtual void Terminate() = 0;
};

}  // namespace dorvik

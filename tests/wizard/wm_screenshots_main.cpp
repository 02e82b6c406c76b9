// wizard-wm-screenshots OUTDIR: the whole wizard on an X server with a real
// window manager (scripts/screenshots --openbox starts both). Walks one
// installation against mserver and grabs the whole screen where windows
// meet: the exit and password dialogs over the always-on-top wizard, the
// wizard minimised and back after a click on the background, the
// post-action question over the progress window, the readme in front of
// the result page. For each scene it also prints what the window manager
// allows the windows it shows (xprop), so a reader can check the title
// bars without the picture.
#include <QApplication>
#include <QProcess>
#include <QScreen>
#include <QTest>
#include <QWindow>
#include <iostream>

#include "app/settings_file.h"
#include "dialogs/askuser.h"
#include "dialogs/exit_dialog.h"
#include "dialogs/fone.h"
#include "dialogs/kelbox.h"
#include "dialogs/pass_dialog.h"
#include "dialogs/text_viewer.h"
#include "link/tcp_link.h"
#include "modal_script.h"
#include "wizard_qt/setup.h"
#include "wizard_qt/wizard_font.h"
#include "wizard_fixture.h"

using namespace dorvik;

namespace {

QString g_out;
int g_failures = 0;

// Lets the window manager map, place and stack what was just shown.
void Settle() { QTest::qWait(400); }

void GrabScreen(const QString& name) {
  Settle();
  const QString file = g_out + "/" + name + ".png";
  if (!QGuiApplication::primaryScreen()->grabWindow(0).save(file)) {
    std::cerr << "cannot save " << file.toStdString() << "\n";
    ++g_failures;
    return;
  }
  std::cout << file.toStdString() << "\n";
}

// The window manager's view of a window: which window it belongs to and
// which actions its title bar and menu offer.
void Describe(QWidget* w, const char* role) {
  if (w == nullptr || w->windowHandle() == nullptr) return;
  QProcess xprop;
  xprop.start("xprop", {"-id", QString::number(w->windowHandle()->winId()), "WM_TRANSIENT_FOR",
                        "_NET_WM_ALLOWED_ACTIONS", "_NET_WM_STATE"});
  xprop.waitForFinished(5000);
  std::cout << "  " << role << " (0x" << std::hex << w->windowHandle()->winId() << std::dec << "):\n"
            << xprop.readAllStandardOutput().toStdString();
}

void Xdotool(const QStringList& args) {
  QProcess xdotool;
  xdotool.start("xdotool", args);
  if (!xdotool.waitForFinished(5000) || xdotool.exitCode() != 0) {
    std::cerr << "xdotool " << args.join(' ').toStdString() << " failed\n";
    ++g_failures;
  }
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ApplyWizardFont(app);
  if (argc != 2 || QGuiApplication::platformName() != "xcb") {
    std::cerr << "usage: wizard-wm-screenshots OUTDIR   (on an X server with a window manager)\n";
    return 2;
  }
  g_out = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(g_out);
  try {
    dorvik_test::MServer server;
    dorvik_test::ScratchFolder folder;
    dorvik_test::MakeSampleDistribution(folder.Path(), false, 2);
    ProgramParts parts;
    parts.makeLink = [] { return std::make_unique<TcpLink>(); };
    parts.clock = std::make_unique<SystemClock>();
    parts.settings = std::make_unique<FileSettingsStore>(folder.Path() / "settings" / "dorvik.conf");
    auto program = std::make_unique<WizardProgram>(folder.Path(), std::move(parts), [] {});
    // The readme in the program's own viewer, as where no desktop opens it.
    program->ui().SetDesktopLauncher([](const QUrl&) { return false; });
    program->Create({});
    TfmSetup& w = *program->fmSetup;
    GrabScreen("wm1_welcome");
    Describe(&w, "fmSetup");
    Describe(program->fmFone, "fmFone");

    {
      dorvik_test::ModalScript script;
      script.Then([&](QWidget* dialog) {
        GrabScreen("wm2_exit_dialog_in_front");
        Describe(dialog, "fmExit");
        dorvik_test::ClickChild(dialog, "OK");
      });
      QTest::keyClick(&w, Qt::Key_Escape);
      if (!script.Done()) ++g_failures;
    }

    // As the user does it: the window manager minimises the wizard, then a
    // click on the background.
    Xdotool({"windowminimize", QString::number(w.windowHandle()->winId())});
    GrabScreen("wm3_wizard_minimised_comes_back");
    Describe(&w, "fmSetup minimised");
    Xdotool({"mousemove", "500", "700", "click", "1"});
    GrabScreen("wm4_background_clicked_wizard_back");
    Describe(&w, "fmSetup after the click");

    w.bt0go->click();
    w.mePort->setText(QString::number(server.Port()));
    w.bt2Go->click();
    {
      dorvik_test::ModalScript script;
      script.Then([&](QWidget* dialog) {
        auto* pass = qobject_cast<TfmPass*>(dialog);
        pass->edPass->setText(QString::fromUtf8("Пароль7"));
        GrabScreen("wm5_password_dialog_in_front");
        Describe(dialog, "fmPass");
        pass->Button2->click();
      });
      w.chSPass->click();
      if (!script.Done()) ++g_failures;
    }
    w.Button2->click();
    {
      dorvik_test::ModalScript answers;
      answers.Then([&](QWidget* dialog) {
        GrabScreen("wm6_postaction_question");
        Describe(dialog, "fmBox");
        Xdotool({"windowminimize", QString::number(dialog->windowHandle()->winId())});
        GrabScreen("wm6b_question_minimised_comes_back");
        Describe(dialog, "fmBox after minimising");
        static_cast<TfmBox*>(dialog)->Buttons()[0]->click();
      });
      answers.Then([&](QWidget* dialog) {
        GrabScreen("wm7_postaction_askuser");
        static_cast<TfmAskUser*>(dialog)->Button1->click();
      });
      w.bt3Install->click();
      if (!answers.Done()) ++g_failures;
    }
    GrabScreen("wm8_result_with_readme");
    for (TfmViewer* viewer : w.findChildren<TfmViewer*>()) Describe(viewer, "readme viewer");
  } catch (const std::exception& e) {
    std::cerr << "wizard-wm-screenshots: " << e.what() << "\n";
    return 1;
  }
  return g_failures == 0 ? 0 : 1;
}

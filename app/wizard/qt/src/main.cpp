// dorvik: the installation wizard. Run it in the folder that holds the
// distribution (dorpack.dat, licence.txt, readme.txt, IMAGES).
#include <QApplication>
#include <QMessageBox>
#include <filesystem>

#include "wizard_qt/program.h"
#include "wizard_qt/wizard_font.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  dorvik::ApplyWizardFont(app);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  std::error_code ec;
  const std::filesystem::path folder = std::filesystem::current_path(ec);
  const auto probe = dorvik::MakeSystemClientProbe();
  return dorvik::RunWizard(args, *probe, folder, [](const QString& text) {
    QMessageBox::information(nullptr, "Velmora Installation Wizard", text);
  });
}

// What the wizard tests share: a scratch program folder with a distribution
// made by dorpack, a running mserver, and the wizard program built on them.
#pragma once

#include <QProcess>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "wizard_qt/program.h"

namespace dorvik_test {

class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  const std::filesystem::path& Path() const { return path_; }
  // Writes UTF-8 text (as given) to a file under the folder.
  std::filesystem::path Write(const std::string& relative, const std::string& text) const;

 private:
  std::filesystem::path path_;
};

// The sample distribution: a check label, routines, and post-actions that
// report progress in per cent and ask one yes/no and one text question
// (their answers end up in ^VMDEMO("yn") and ^VMDEMO("name")).
// Product "Велмора Склад", version "2.9", password "Пароль7".
void MakeSampleDistribution(const std::filesystem::path& folder, bool withLicence, int pictures, int routines = 6);
// Runs dorpack on a manifest; throws std::runtime_error with its message.
void RunDorpack(const std::filesystem::path& manifest, const std::filesystem::path& output);

// mserver on a free loopback port with four digits (the wizard's port
// field takes at most four), with its data in a scratch folder.
class MServer {
 public:
  MServer();
  ~MServer();
  int Port() const { return port_; }
  // The value of an M expression in a namespace, through the link.
  std::string Evaluate(const std::string& ns, const std::string& expression) const;

 private:
  ScratchFolder data_;
  QProcess process_;
  int port_ = 0;
};

struct ProgramProbe {
  int terminations = 0;
  std::vector<std::filesystem::path> opened;
};

// The wizard program in `folder`, with settings kept in the folder, the
// desktop's Open recorded in `probe` and termination requests counted; the
// link is a TcpLink unless `makeLink` makes another.
std::unique_ptr<dorvik::WizardProgram> MakeProgram(const std::filesystem::path& folder, ProgramProbe& probe,
                                                   dorvik::LinkThread::Factory makeLink = {});

}  // namespace dorvik_test

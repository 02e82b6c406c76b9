#include "wizard_fixture.h"

#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QThread>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "app/settings_file.h"
#include "distribution/codepage.h"
#include "distribution/funcs.h"
#include "sample_jpeg.h"
#include "link/tcp_link.h"

namespace dorvik_test {

namespace fs = std::filesystem;

ScratchFolder::ScratchFolder() {
  std::string pattern = (fs::temp_directory_path() / "wizard-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create a scratch folder");
  path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

fs::path ScratchFolder::Write(const std::string& relative, const std::string& text) const {
  const fs::path file = path_ / relative;
  fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + file.string());
  return file;
}

namespace {

void WriteText(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + file.string());
}

// A port from 2000 to 9999 that nothing listens on at the moment.
int FreeFourDigitPort() {
  std::mt19937 random(static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
  for (int attempt = 0; attempt < 200; ++attempt) {
    const int port = 2000 + static_cast<int>(random() % 8000);
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) continue;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool free = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    if (free) return port;
  }
  throw std::runtime_error("no free loopback port");
}

}  // namespace

void RunDorpack(const fs::path& manifest, const fs::path& output) {
  QProcess dorpack;
  dorpack.start(DORPACK_EXECUTABLE,
                {"build", QString::fromStdString(manifest.string()), "-o", QString::fromStdString(output.string())});
  if (!dorpack.waitForFinished(30000) || dorpack.exitStatus() != QProcess::NormalExit || dorpack.exitCode() != 0) {
    throw std::runtime_error("dorpack failed: " + dorpack.readAllStandardError().toStdString());
  }
}

void MakeSampleDistribution(const fs::path& folder, bool withLicence, int pictures, int routines) {
  const fs::path source = folder / "source";
  WriteText(source / "check" / "VMCHK.int",
            "VMCHK ; проверка области установки\n"
            " q\n"
            "check() ; пустой ответ: область подходит\n"
            " q \"\"\n");
  for (int n = 1; n <= routines; ++n) {
    const std::string name = "VMR" + std::to_string(n);
    WriteText(source / "src" / (name + ".int"), name + " ; программа " + std::to_string(n) +
                                                    "\n"
                                                    " q\n"
                                                    "sum(a,b) q a+b\n");
  }
  WriteText(source / "src" / "VMPOST.int",
            "VMPOST ; последействия\n"
            " q\n"
            "index() n i f i=1:1:4 d w^dorvik(\"Шаг \"_i_$c(1)_(i*25))\n"
            " q \"\"\n"
            "askyn() s ^VMDEMO(\"yn\")=$$ask^dorvik(1,\"Заполнить справочники?\",1)\n"
            " q \"\"\n"
            "askname() s ^VMDEMO(\"name\")=$$ask^dorvik(2,\"Название организации?\",\"Велмора\")\n"
            " d w^dorvik(\"Организация: \"_^VMDEMO(\"name\"))\n"
            " q \"\"\n");
  WriteText(source / "manifest.json", R"({
  "product": "Велмора Склад",
  "version": "2.9",
  "build_date": "08.12.2026",
  "password": "Пароль7",
  "check_label": "check^VMCHK",
  "check_routines": ["check/VMCHK.int"],
  "post_actions": [
    {"description": "Перестроение индексов", "label": "index^VMPOST"},
    {"description": "Справочники", "label": "askyn^VMPOST"},
    {"description": "Организация", "label": "askname^VMPOST"}
  ],
  "routines": ["src/*.int"]
})");
  RunDorpack(source / "manifest.json", folder / "dorpack.dat");
  if (withLicence) {
    WriteText(folder / "licence.txt", dorvik::Utf8ToCp1251("Лицензионное соглашение\r\nПункт 1.\r\n"));
  }
  WriteText(folder / "readme.txt", "readme\r\n");
  fs::create_directories(folder / "IMAGES");
  for (int n = 1; n <= pictures; ++n)
    WriteSampleJpeg(folder / "IMAGES" / ("p" + std::to_string(n) + ".jpg"), 320, 200, n);
}

MServer::MServer() {
  // The log goes to a file, so that a long run never fills a pipe.
  const fs::path logFile = data_.Path() / "mserver.log";
  for (int attempt = 0; attempt < 5 && port_ == 0; ++attempt) {
    const int port = FreeFourDigitPort();
    // The server ends with the test, also when the test is killed.
    process_.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
    process_.setStandardErrorFile(QString::fromStdString(logFile.string()));
    process_.setStandardOutputFile(QProcess::nullDevice());
    process_.start(MSERVER_EXECUTABLE, {"serve", "--data", QString::fromStdString((data_.Path() / "db").string()),
                                        "--listen", QString("127.0.0.1:%1").arg(port)});
    if (!process_.waitForStarted(10000)) throw std::runtime_error("mserver does not start");
    for (int i = 0; i < 200 && process_.state() == QProcess::Running; ++i) {
      std::ifstream in(logFile);
      const std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      if (log.find("listening on") != std::string::npos) {
        port_ = port;
        break;
      }
      QThread::msleep(50);
    }
    if (port_ == 0) {
      process_.kill();
      process_.waitForFinished(5000);
    }
  }
  if (port_ == 0) throw std::runtime_error("mserver did not start listening");
}

MServer::~MServer() {
  process_.terminate();
  if (!process_.waitForFinished(10000)) {
    process_.kill();
    process_.waitForFinished(5000);
  }
}

std::string MServer::Evaluate(const std::string& ns, const std::string& expression) const {
  dorvik::TcpLink link;
  link.SetServer(dorvik::BuildServerString("127.0.0.1", std::to_string(port_)));
  link.SetNamespace(ns);
  const std::string value = link.Evaluate(expression);
  if (link.ErrorCode() != 0) throw std::runtime_error(expression + ": " + link.ErrorText());
  return value;
}

std::unique_ptr<dorvik::WizardProgram> MakeProgram(const fs::path& folder, ProgramProbe& probe,
                                                   dorvik::LinkThread::Factory makeLink) {
  dorvik::ProgramParts parts;
  parts.makeLink = makeLink ? std::move(makeLink) : [] { return std::make_unique<dorvik::TcpLink>(); };
  parts.clock = std::make_unique<dorvik::SystemClock>();
  parts.settings = std::make_unique<dorvik::FileSettingsStore>(folder / "settings" / "dorvik.conf");
  auto program = std::make_unique<dorvik::WizardProgram>(folder, std::move(parts), [&probe] { ++probe.terminations; });
  program->ui().SetFileOpener([&probe](const fs::path& file, const fs::path&) { probe.opened.push_back(file); });
  return program;
}

}  // namespace dorvik_test

#include "wine_desktop.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QImage>
#include <cstring>
#include <fstream>
#include <map>
#include <stdexcept>
#include <thread>

namespace dorvik::testing {

namespace fs = std::filesystem;

namespace {

// The current environment with `extra` ("NAME=value") put over it.
std::vector<std::string> MergedEnvironment(const std::vector<std::string>& extra) {
  std::map<std::string, std::string> vars;
  auto put = [&vars](const std::string& entry) {
    const auto eq = entry.find('=');
    if (eq != std::string::npos) vars[entry.substr(0, eq)] = entry;
  };
  for (char** e = environ; *e != nullptr; ++e) put(*e);
  for (const auto& e : extra) put(e);
  std::vector<std::string> out;
  for (const auto& [name, entry] : vars) out.push_back(entry);
  return out;
}

struct Output {
  int status = -1;
  std::string out;
};

// Runs a program to its end with its standard output captured.
Output Capture(const std::vector<std::string>& args, const std::vector<std::string>& env) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) throw std::runtime_error("pipe failed");
  std::vector<std::string> a = args, e = MergedEnvironment(env);
  std::vector<char*> argv, envp;
  for (auto& s : a) argv.push_back(s.data());
  argv.push_back(nullptr);
  for (auto& s : e) envp.push_back(s.data());
  envp.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int devnull = open("/dev/null", O_RDWR);
    dup2(devnull, 0);
    dup2(pipeFds[1], 1);
    dup2(devnull, 2);
    for (int fd = 3; fd < 256; ++fd) close(fd);
    execvpe(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(pipeFds[1]);
  Output result;
  char buffer[4096];
  for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;)
    result.out.append(buffer, static_cast<std::size_t>(n));
  close(pipeFds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

// Runs a program to its end with its output thrown away (a Wine command may
// leave the wineserver running, which must not hold a pipe of ours).
int Quiet(const std::vector<std::string>& args, const std::vector<std::string>& env) {
  std::vector<std::string> a = args, e = MergedEnvironment(env);
  std::vector<char*> argv, envp;
  for (auto& s : a) argv.push_back(s.data());
  argv.push_back(nullptr);
  for (auto& s : e) envp.push_back(s.data());
  envp.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int devnull = open("/dev/null", O_RDWR);
    dup2(devnull, 0);
    dup2(devnull, 1);
    dup2(devnull, 2);
    for (int fd = 3; fd < 256; ++fd) close(fd);
    execvpe(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

unsigned Big32(const unsigned char* p) {
  return static_cast<unsigned>(p[0]) << 24 | static_cast<unsigned>(p[1]) << 16 | static_cast<unsigned>(p[2]) << 8 |
         p[3];
}

}  // namespace

bool WaitFor(const std::function<bool()>& ready, std::chrono::seconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (!ready()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

pid_t WineDesktop::Start(const std::vector<std::string>& args, const fs::path& folder,
                         const std::vector<std::string>& env) const {
  std::vector<std::string> all = Environment();
  all.insert(all.end(), env.begin(), env.end());
  std::vector<std::string> command{"wine"};
  command.insert(command.end(), args.begin(), args.end());
  return Spawn(command, all, -1, folder);
}

pid_t WineDesktop::Spawn(const std::vector<std::string>& args, const std::vector<std::string>& env, int keepFd,
                         const fs::path& folder) const {
  std::vector<std::string> a = args, e = MergedEnvironment(env);
  std::vector<char*> argv, envp;
  for (auto& s : a) argv.push_back(s.data());
  argv.push_back(nullptr);
  for (auto& s : e) envp.push_back(s.data());
  envp.push_back(nullptr);
  const pid_t pid = fork();
  const std::string log = (folder_ / (fs::path(args[0]).filename().string() + ".log")).string();
  if (pid == 0) {
    const int devnull = open("/dev/null", O_RDWR);
    const int logFd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    dup2(devnull, 0);
    dup2(logFd >= 0 ? logFd : devnull, 1);
    dup2(logFd >= 0 ? logFd : devnull, 2);
    for (int fd = 3; fd < 256; ++fd) {
      if (fd != keepFd) close(fd);
    }
    setsid();
    if (!folder.empty() && chdir(folder.c_str()) != 0) _exit(127);
    execvpe(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  return pid;
}

WineDesktop::WineDesktop(fs::path folder, fs::path control) : folder_(std::move(folder)) {
  fs::create_directories(folder_);
  prefix_ = folder_ / "prefix";
  locale_ = folder_ / "locale";
  framebuffer_ = folder_ / "screen";
  fs::remove_all(prefix_);
  fs::create_directories(framebuffer_);
  // The Russian locale, made once into the lane's own folder.
  if (!fs::exists(locale_ / "ru_RU.UTF-8")) {
    fs::create_directories(locale_);
    const Output made = Capture({"localedef", "-i", "ru_RU", "-f", "UTF-8", (locale_ / "ru_RU.UTF-8").string()}, {});
    if (!fs::exists(locale_ / "ru_RU.UTF-8")) {
      throw std::runtime_error("localedef cannot make ru_RU.UTF-8 (status " + std::to_string(made.status) + ")");
    }
  }
  // The display: Xvfb tells its number through a pipe once it is ready.
  int pipeFds[2];
  if (pipe(pipeFds) != 0) throw std::runtime_error("pipe failed");
  xvfb_ = Spawn({"Xvfb", "-displayfd", std::to_string(pipeFds[1]), "-screen", "0", "1024x768x24", "-fbdir",
                 framebuffer_.string(), "-nolisten", "tcp"},
                {}, pipeFds[1]);
  close(pipeFds[1]);
  // Xvfb writes the number and then a line break, apart: the pipe stays
  // open until both have come, or the second write would fail Xvfb.
  std::string number;
  char c = 0;
  while (read(pipeFds[0], &c, 1) == 1 && c != '\n') number.push_back(c);
  close(pipeFds[0]);
  if (number.empty()) throw std::runtime_error("Xvfb did not start");
  display_ = ":" + number;
  openbox_ = Spawn({"openbox", "--sm-disable"}, {"DISPLAY=" + display_});
  const bool managed = WaitFor(
      [this] {
        return Capture({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}, {"DISPLAY=" + display_}).out.find("window id") !=
               std::string::npos;
      },
      std::chrono::seconds(30));
  if (!managed) {
    const bool xvfbGone = waitpid(xvfb_, nullptr, WNOHANG) == xvfb_;
    const bool openboxGone = waitpid(openbox_, nullptr, WNOHANG) == openbox_;
    throw std::runtime_error("openbox did not start on " + display_ + (xvfbGone ? " (Xvfb ended)" : "") +
                             (openboxGone ? " (openbox ended)" : ""));
  }
  Quiet({"setxkbmap", "-layout", "us"}, {"DISPLAY=" + display_});
  // The prefix, with the control registered.
  Wine({"wineboot", "-i"});
  if (Wine({"regsvr32", "/s", control.string()}) != 0)
    throw std::runtime_error("the test control cannot be registered");
  // Windows opens text files with Notepad; a new Wine prefix has the
  // "txtfile" type but leaves ".txt" unassigned.
  Wine({"reg", "add", "HKCR\\.txt", "/ve", "/d", "txtfile", "/f"});
}

WineDesktop::~WineDesktop() {
  Wine({"wineserver", "-k"});
  for (const pid_t pid : {openbox_, xvfb_}) {
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
  }
  std::error_code ec;
  fs::remove_all(prefix_, ec);
}

std::vector<std::string> WineDesktop::Environment() const {
  return {"DISPLAY=" + display_,
          "WINEPREFIX=" + prefix_.string(),
          "WINEDEBUG=-all",
          "WINEDLLOVERRIDES=mscoree,mshtml=;winemenubuilder.exe=d",
          "LOCPATH=" + locale_.string(),
          "LANG=ru_RU.UTF-8",
          "LC_ALL=ru_RU.UTF-8"};
}

int WineDesktop::Wine(const std::vector<std::string>& args) const {
  std::vector<std::string> command{args[0] == "wineboot" || args[0] == "wineserver" ? args[0] : "wine"};
  command.insert(command.end(), args.begin() + (command[0] == "wine" ? 0 : 1), args.end());
  return Quiet(command, Environment());
}

std::string WineDesktop::Xdo(const std::vector<std::string>& args) const {
  // Bounded: activating a window that cannot take the focus must not hang
  // the lane.
  std::vector<std::string> command{"timeout", "10", "xdotool"};
  command.insert(command.end(), args.begin(), args.end());
  return Capture(command, {"DISPLAY=" + display_}).out;
}

std::string WineDesktop::WaitWindow(const std::string& titleRegex, std::chrono::seconds timeout) const {
  std::string id;
  WaitFor(
      [&] {
        id = FirstLine(Xdo({"search", "--onlyvisible", "--name", titleRegex}));
        return !id.empty();
      },
      timeout);
  return id;
}

bool WineDesktop::HasWindow(const std::string& titleRegex) const {
  return !FirstLine(Xdo({"search", "--onlyvisible", "--name", titleRegex})).empty();
}

bool WineDesktop::WaitWindowGone(const std::string& titleRegex, std::chrono::seconds timeout) const {
  return WaitFor([&] { return !HasWindow(titleRegex); }, timeout);
}

void WineDesktop::Key(const std::string& window, const std::vector<std::string>& keys) const {
  for (const std::string& key : keys) {
    Xdo({"windowactivate", "--sync", window});
    Xdo({"key", "--clearmodifiers", key});
  }
}

void WineDesktop::Type(const std::string& window, const std::string& text) const {
  Xdo({"windowactivate", "--sync", window});
  Xdo({"type", "--delay", "30", text});
}

void WineDesktop::TypeRussian(const std::string& window, const std::string& utf8) const {
  Quiet({"setxkbmap", "-layout", "ru"}, {"DISPLAY=" + display_});
  Type(window, utf8);
  Quiet({"setxkbmap", "-layout", "us"}, {"DISPLAY=" + display_});
}

WindowBox WineDesktop::Geometry(const std::string& window) const {
  WindowBox box;
  const std::string shell = Xdo({"getwindowgeometry", "--shell", window});
  auto value = [&shell](const char* name) {
    const auto at = shell.find(std::string(name) + "=");
    return at == std::string::npos ? 0 : std::stoi(shell.substr(at + std::strlen(name) + 1));
  };
  box.x = value("X");
  box.y = value("Y");
  box.width = value("WIDTH");
  box.height = value("HEIGHT");
  return box;
}

// The frame buffer Xvfb keeps as an XWD file: a big-endian header, the
// colour map, then the pixels in the server's byte order.
ScreenPicture WineDesktop::Screen() const {
  std::ifstream in(framebuffer_ / "Xvfb_screen0", std::ios::binary);
  const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (data.size() < 100) throw std::runtime_error("no frame buffer");
  const auto* h = reinterpret_cast<const unsigned char*>(data.data());
  const unsigned headerSize = Big32(h), width = Big32(h + 16), height = Big32(h + 20), byteOrder = Big32(h + 28),
                 bitsPerPixel = Big32(h + 44), bytesPerLine = Big32(h + 48), colours = Big32(h + 76);
  if (bitsPerPixel != 32) throw std::runtime_error("the frame buffer is not 32 bits a pixel");
  const std::size_t start = headerSize + colours * 12;
  ScreenPicture picture;
  picture.width = static_cast<int>(width);
  picture.height = static_cast<int>(height);
  picture.pixels.resize(static_cast<std::size_t>(width) * height);
  for (unsigned y = 0; y < height; ++y) {
    for (unsigned x = 0; x < width; ++x) {
      const auto* p = h + start + static_cast<std::size_t>(y) * bytesPerLine + x * 4;
      const unsigned v = byteOrder == 0 ? (p[0] | p[1] << 8 | p[2] << 16) : (p[3] | p[2] << 8 | p[1] << 16);
      picture.pixels[static_cast<std::size_t>(y) * width + x] = v & 0xFFFFFF;
    }
  }
  return picture;
}

void WineDesktop::SaveScreen(const fs::path& png) const {
  const ScreenPicture picture = Screen();
  QImage image(picture.width, picture.height, QImage::Format_RGB32);
  for (int y = 0; y < picture.height; ++y) {
    auto* line = reinterpret_cast<unsigned*>(image.scanLine(y));
    for (int x = 0; x < picture.width; ++x) line[x] = 0xFF000000u | picture.At(x, y);
  }
  fs::create_directories(png.parent_path());
  if (!image.save(QString::fromStdString(png.string()), "PNG")) throw std::runtime_error("cannot save " + png.string());
}

}  // namespace dorvik::testing

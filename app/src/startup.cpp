#include "app/startup.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <stdexcept>

#include "app/log_file.h"
#include "app/trust_settings.h"
#include "distribution/codepage.h"

namespace dorvik {

namespace {

std::string Arg(const std::vector<std::string>& args, std::size_t i) { return i < args.size() ? args[i] : ""; }

// The whole text must be a decimal integer, as the original conversion
// demands; anything else is a failure with a message.
int ToInteger(const std::string& text) {
  std::size_t used = 0;
  int value = 0;
  try {
    value = std::stoi(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != text.size()) throw std::invalid_argument("'" + text + "' is not a valid integer value");
  return value;
}

// The consecutive pictures 1, 2, ... (any extension) in the images folder;
// with `listed`, a picture counts only when the list names its file.
int CountPictures(const FileLocations& files, const std::vector<std::string>* listed) {
  std::error_code ec;
  if (!std::filesystem::is_directory(files.ImagesFolder, ec)) return 0;
  // The names present, so that the count does not scan the folder per number.
  std::vector<std::string> stems;
  for (const auto& entry : std::filesystem::directory_iterator(files.ImagesFolder, ec)) {
    if (entry.is_regular_file(ec)) stems.push_back(entry.path().stem().string());
  }
  const std::string folder = files.ImagesFolder.filename().string();
  auto present = [&](int n) {
    const std::string stem = files.ImagePrefix + std::to_string(n);
    if (std::find(stems.begin(), stems.end(), stem) == stems.end()) return false;
    if (listed == nullptr) return true;
    const std::string name = folder + "/" + files.ImagePath(n).filename().string();
    return std::find(listed->begin(), listed->end(), name) != listed->end();
  };
  int count = 0;
  while (present(count + 1)) ++count;
  return count;
}

}  // namespace

void ParseCommandLine(const std::vector<std::string>& args, InstallOptions& options, InstallLog& log) {
  const std::string first = Arg(args, 0);
  if (first == "q") options.HardPreAction = false;
  if (first == "no") options.RunPreActions = false;
  try {
    if (Arg(args, 1) == "%") options.DetectLibrary = false;
    if (!Arg(args, 2).empty()) options.ChunkLimit = ToInteger(Arg(args, 1));
  } catch (const std::exception& e) {
    log.Add(AppFailureLine(e.what()));
    return;
  }
  if (options.ChunkLimit > kMaxChunkLimit) options.ChunkLimit = kMaxChunkLimit;
}

bool LoadLicence(const std::filesystem::path& path, std::vector<std::string>& lines) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  lines.clear();
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return !in.bad();
}

void LoadConnectionSettings(SettingsStore& store, ConnectionSettings& settings) {
  settings.IP = store.Read("IP").value_or("127.0.0.1");
  settings.Port = store.Read("Port").value_or("1972");
  settings.PreferredNamespace = store.Read("NS").value_or("USER");
}

void SaveConnectionSettings(SettingsStore& store, const ConnectionSettings& settings) {
  if (!store.IsOpen()) return;  // nothing was opened at start: nothing to keep
  store.Write("IP", settings.IP);
  store.Write("Port", settings.Port);
  store.Write("NS", settings.Namespace);
}

namespace {

// Checks the publisher's signature before anything of the distribution is
// read for use; its lines go right after the log header. False when the
// distribution is refused.
bool CheckSignature(Session& s, const signing::TrustSettings& commandLineTrust, StartupResult& result) {
  TrustSettingsResult settings = LoadTrustSettings(s.settings);
  MergeTrust(settings.trust, commandLineTrust);
  if (!settings.failure.empty()) {
    s.signature = {};
    s.signature.status = signing::SignatureStatus::kRefused;
    s.signature.reason = settings.failure;
    s.signature.blocksInstallation = true;
  } else {
    s.signature =
        signing::CheckDistributionSignature(s.files.ProgramFolder, FilesTheInstallerReads(s.files), settings.trust);
  }
  for (const auto& line : signing::SignatureLogLines(s.signature)) s.log.Add(line);
  if (!s.signature.blocksInstallation) return true;
  result.signatureRefused = true;
  result.headerFailure = Ru("Подпись дистрибутива не принята: ") + s.signature.reason;
  return false;
}

}  // namespace

StartupResult StartSession(Session& s, const std::vector<std::string>& args,
                           const signing::TrustSettings& commandLineTrust) {
  StartupResult result;
  result.licencePresent = LoadLicence(s.files.LicencePath, result.licenceLines);
  s.run.InstallSucceeded = false;
  s.run.UserAbort = false;
  s.options = InstallOptions{};
  LoadConnectionSettings(s.settings, s.connection);
  s.options.ChunkLimit = kMaxChunkLimit;
  ParseCommandLine(args, s.options, s.log);
  s.run.StartTime = s.clock.TimeOfDay();
  WriteLogHeader(s.log, s.clock.Today(), s.run.StartTime, kInstallerVersion);
  if (!CheckSignature(s, commandLineTrust, result)) return result;
  result.headerRead = s.reader.ReadHeader(s.dist, s.log);
  if (!result.headerRead) result.headerFailure = DescribeHeaderFailure(s.files.DataFilePath, s.log);
  return result;
}

std::string DescribeHeaderFailure(const std::filesystem::path& dataFile, const InstallLog& log) {
  std::error_code ec;
  if (!std::filesystem::exists(dataFile, ec)) return Ru("Файл дистрибутива не найден.");
  if (!std::filesystem::is_regular_file(dataFile, ec)) return Ru("Путь файла дистрибутива указывает не на файл.");
  std::ifstream in(dataFile, std::ios::binary);
  if (!in) {
    return errno == EACCES ? Ru("Нет прав на чтение файла дистрибутива.")
                           : Ru("Файл дистрибутива не удаётся открыть для чтения.");
  }
  // The reader's own reason, as the log has it: the message and the log
  // say one thing.
  const std::string damaged = Ru("Файл дистрибутива повреждён: ");
  const std::string caught = AppFailureLine("");
  if (!log.Lines().empty() && log.Lines().back().rfind(caught, 0) == 0 && log.Lines().back().size() > caught.size()) {
    return damaged + log.Lines().back().substr(caught.size()) + ".";
  }
  return damaged + Ru("заголовок не читается.");
}

std::vector<std::string> FilesTheInstallerReads(const FileLocations& files) {
  std::vector<std::string> names;
  std::error_code ec;
  const auto add = [&](const std::filesystem::path& file, const std::string& name) {
    if (std::filesystem::is_regular_file(file, ec)) names.push_back(name);
  };
  add(files.DataFilePath, files.DataFilePath.filename().string());
  add(files.LicencePath, files.LicencePath.filename().string());
  add(files.ReadmePath, files.ReadmePath.filename().string());
  // The pictures as an unsigned installation would count them.
  const std::string folder = files.ImagesFolder.filename().string();
  const int count = CountPictures(files, nullptr);
  for (int n = 1; n <= count; ++n) {
    add(files.ImagePath(n), folder + "/" + files.ImagePath(n).filename().string());
  }
  return names;
}

bool CountImages(Session& s) {
  std::error_code ec;
  if (!std::filesystem::is_directory(s.files.ImagesFolder, ec)) return false;
  const bool signedList = s.signature.status == signing::SignatureStatus::kVerifiedTrusted ||
                          s.signature.status == signing::SignatureStatus::kVerifiedUntrusted;
  s.run.ImageCount = CountPictures(s.files, signedList ? &s.signature.listedFiles : nullptr);
  return s.run.ImageCount > 0;
}

}  // namespace dorvik

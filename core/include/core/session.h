// The state of one run of the installer, shared by every stage: where its
// files are, the options, the connection settings, the distribution and its
// reader, the install log, and the link, interface and platform services.
#pragma once

#include <atomic>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "core/failure.h"
#include "distribution/install_log.h"
#include "distribution/reader.h"
#include "core/server_link.h"
#include "core/services.h"
#include "core/ui.h"
#include "signing/distribution_signature.h"

namespace dorvik {

inline constexpr const char* kInstallerVersion = "2.9";
inline constexpr int kMaxChunkLimit = 32700;

struct InstallOptions {
  bool RunPreActions = true;
  bool HardPreAction = true;
  bool RestoreRoutines = true;
  bool RunPostActions = true;
  bool KeepSources = false;
  bool DetectLibrary = true;
  int ChunkLimit = kMaxChunkLimit;
};

struct ConnectionSettings {
  std::string IP = "127.0.0.1";
  std::string Port = "1972";
  std::string Namespace;
  std::string PreferredNamespace = "USER";
};

struct FileLocations {
  std::filesystem::path ProgramFolder;
  std::filesystem::path ImagesFolder;
  std::string ImagePrefix = "p";
  std::filesystem::path LicencePath;
  std::filesystem::path ReadmePath;
  std::filesystem::path DataFilePath;
  std::filesystem::path LogPath;
  std::filesystem::path FallbackFolder;
  std::string PostActionRoutineName = "dorvik";

  // Every location inside `programFolder`, the process's current folder.
  static FileLocations In(const std::filesystem::path& programFolder);
  std::filesystem::path ImagePath(int number) const;
};

struct RunState {
  std::atomic<bool> UserAbort{false};
  bool InstallSucceeded = false;
  double StartTime = 0;
  double EndTime = 0;
  int ImageCount = 0;
  int ImageIndex = 0;
};

struct Session {
  Session(FileLocations files, ServerLink& link, InstallerUi& ui, Clock& clock, SettingsStore& settings)
      : files(std::move(files)),
        reader(this->files.DataFilePath),
        link(link),
        ui(ui),
        clock(clock),
        settings(settings) {}

  FileLocations files;
  InstallOptions options;
  ConnectionSettings connection;
  RunState run;
  Distribution dist;
  DistributionReader reader;
  InstallLog log;
  // The publisher's signature as start-up found it.
  signing::SignatureState signature;

  ServerLink& link;
  InstallerUi& ui;
  Clock& clock;
  SettingsStore& settings;

  // "Установка " + product + " " + version + ". "
  std::string TitlePrefix() const;
};

}  // namespace dorvik

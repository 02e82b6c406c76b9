// Start-up of a run without its windows: options and their command line,
// the connection settings, the licence, the log header and the
// distribution's header. The wizard and the command-line installer both
// start this way.
#pragma once

#include <string>
#include <vector>

#include "core/session.h"
#include "signing/distribution_signature.h"

namespace dorvik {

// The positional arguments: 1st "q" (soft pre-actions) or "no" (none);
// 2nd "%" (no library test) or, when a 3rd is given, the chunk limit.
// A bad number is logged and leaves the chunk limit as it was.
void ParseCommandLine(const std::vector<std::string>& args, InstallOptions& options, InstallLog& log);

// Reads the licence's lines; false when the file cannot be read.
bool LoadLicence(const std::filesystem::path& path, std::vector<std::string>& lines);

// The registry values "IP", "Port" and "NS", with their defaults.
void LoadConnectionSettings(SettingsStore& store, ConnectionSettings& settings);
void SaveConnectionSettings(SettingsStore& store, const ConnectionSettings& settings);

struct StartupResult {
  bool headerRead = false;
  // When the header was not read: why, in plain words (code page 1251); the
  // caller shows it with the data file's full path. Not logged.
  std::string headerFailure;
  // The publisher's signature was refused under enforced trust: the header
  // was not read, `headerFailure` gives the reason (also logged) and
  // nothing of the distribution may reach the server.
  bool signatureRefused = false;
  bool licencePresent = false;
  std::vector<std::string> licenceLines;
};

// Everything the wizard's creation does besides its windows, in its order:
// defaults, licence, settings, command line, log header, the publisher's
// signature (the trust settings joined with `commandLineTrust`; its lines
// follow the log header), distribution header.
StartupResult StartSession(Session& s, const std::vector<std::string>& args,
                           const signing::TrustSettings& commandLineTrust = {});

// The names (relative to the program folder, "/" between folders) of the
// files an installation reads: dorpack.dat, licence.txt and readme.txt
// where present, and the pictures CountImages would take.
std::vector<std::string> FilesTheInstallerReads(const FileLocations& files);

// Why ReadHeader refused `dataFile`: missing, not a file, not readable, or
// the reader's own reason for the damage, as its last log line has it
// (offsets count from 0); the log is only read.
std::string DescribeHeaderFailure(const std::filesystem::path& dataFile, const InstallLog& log);

// Counts the consecutive pictures 1, 2, ... (any extension) in the images
// folder; leaves the count alone when the folder is missing. Of a signed
// distribution that passed its check, only pictures its list names count.
bool CountImages(Session& s);

}  // namespace dorvik

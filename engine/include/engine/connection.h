// The two wizard steps that talk to the server before the installation:
// connecting to the system namespace and listing the namespaces, then
// switching to the namespace the user chose.
#pragma once

#include <string>
#include <vector>

#include "core/session.h"

namespace dorvik {

struct ConnectOutcome {
  bool ok = false;
  // The connection fields as they should now read (the server may have
  // connected with other parameters than those typed).
  std::string ipField;
  std::string portField;
  std::vector<std::string> namespaces;
  int selected = -1;
  // A library distribution: the list is hidden and this notice shown.
  bool library = false;
  std::string libraryNotice;
};

// Serves "Далее" on the connection page (act2go): connects to the system
// namespace, lists the namespaces and runs the library test.
ConnectOutcome ConnectToServer(Session& s, const std::string& ipField, const std::string& portField);

// Fills the namespace list from the server and picks the entry to select:
// the preferred namespace (any letter case) or else the first.
void FillNamespaceList(Session& s, std::vector<std::string>& list, int& selected);

struct NamespaceChoice {
  std::string ns;
  bool keepSources = false;  // chSPass
  bool noRestore = false;    // chNoRestore
  bool noAfter = false;      // chNoAfter
};

// Serves "Далее" on the namespace page (act25go): true when the connection now uses the
// chosen namespace; the summary of the ready page is then in `summary`.
bool SwitchToNamespace(Session& s, const NamespaceChoice& choice, std::vector<std::string>& summary);

// The lines of the ready page's settings summary.
std::vector<std::string> FillSettingsSummary(const Session& s);

// The port field as the connection uses it: blanks trimmed; a field without
// digits reads as empty.
std::string NormalisePort(const std::string& field);

}  // namespace dorvik

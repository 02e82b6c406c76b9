// Default behaviour of the Host interface and lock resource names.
#include <ctime>

#include "mengine/host.h"

namespace mengine {

std::string LockResource(std::string_view ns, std::string_view key) {
  std::string r(ns);
  r.push_back('\0');
  r.append(key);
  return r;
}

ZuResult Host::ZU(const ZuCall& call) {
  const auto& a = call.args;
  if (!a.empty() && a[0] == "90") {
    auto names = Namespaces();
    if (a.size() == 2 && a[1] == "0") return {true, std::to_string(names.size())};
    if (a.size() == 4 && a[1] == "2" && a[2] == "0") {
      long n = 0;
      try {
        n = std::stol(a[3]);
      } catch (...) {
        return {true, ""};
      }
      if (n >= 1 && static_cast<std::size_t>(n) <= names.size()) return {true, names[static_cast<std::size_t>(n - 1)]};
      return {true, ""};
    }
  }
  if (a.size() == 1 && a[0] == "5") return {true, std::string(call.ns)};
  return {false, ""};
}

int Host::UtcOffsetSeconds(std::chrono::system_clock::time_point when) {
  std::time_t t = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
  localtime_r(&t, &local);
  return static_cast<int>(local.tm_gmtoff);
}

}  // namespace mengine

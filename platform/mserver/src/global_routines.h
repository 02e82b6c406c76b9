// Routines of one namespace kept in its globals: the source lines in
// ^ROUTINE(name,0,n), their count in ^ROUTINE(name,0,0), the save time ($H
// form) in ^ROUTINE(name,0), and the compiled form in ^rOBJ(name). A routine
// exists while ^rOBJ(name) does and runs from it; killing ^ROUTINE(name)
// removes only its source text.
#pragma once

#include <map>
#include <memory>
#include <mutex>

#include "lmdb_globals.h"
#include "mengine/host.h"

namespace mserver {

class GlobalRoutineStore final : public mengine::RoutineStore {
 public:
  explicit GlobalRoutineStore(LmdbGlobalStore& globals) : globals_(globals) {}

  std::shared_ptr<const mengine::RoutineImage> Load(std::string_view name) override;
  void Save(std::string_view name, std::vector<std::string> source, std::string compiled) override;
  bool Remove(std::string_view name) override;
  std::vector<std::string> List() override;

 private:
  struct Cached {
    std::uint64_t generation = 0;
    std::shared_ptr<const mengine::RoutineImage> image;
  };

  LmdbGlobalStore& globals_;
  std::mutex mutex_;
  std::map<std::string, Cached, std::less<>> cache_;
};

// Process-wide counter for routine versions: never reused, so an image
// cached by the engine is never mistaken for a later save.
std::uint64_t NextRoutineVersion();

}  // namespace mserver

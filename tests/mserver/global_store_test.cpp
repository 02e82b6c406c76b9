// The persistent globals against the engine's in-memory globals: the same
// random updates must give the same answers to every query.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "mengine/keycodec.h"
#include "mengine/memory_host.h"
#include "mserver/global_store.h"

namespace {

namespace fs = std::filesystem;
namespace kc = mengine::keycodec;

const std::vector<std::string> kSubscripts = {"-10", "-2.5", "-1", "-.5", "0",  ".25", "1", "2",
                                              "10",  "1E3",  "01", "a",   "ab", "b",   "",  "\xff"};

std::string RandomKey(std::mt19937& rng, std::size_t maxDepth) {
  std::uniform_int_distribution<std::size_t> depth(0, maxDepth);
  std::uniform_int_distribution<std::size_t> pick(0, kSubscripts.size() - 1);
  std::string key = kc::EncodeName(rng() % 4 == 0 ? "B" : "A");
  const std::size_t n = depth(rng);
  for (std::size_t i = 0; i < n; ++i) {
    std::string s = kSubscripts[pick(rng)];
    if (s.empty()) s = "x";  // "" is no subscript of a stored node
    kc::AppendSubscript(key, s);
  }
  return key;
}

TEST(GlobalStore, AgreesWithTheInMemoryStoreOnRandomWork) {
  const fs::path dir = fs::temp_directory_path() / ("mserver-globals-" + std::to_string(std::random_device{}()));
  {
    auto bytes = mserver::ByteStore::Open(dir);
    auto lmdb = mserver::MakeGlobalStore(*bytes);
    mengine::MemoryGlobalStore memory;
    std::mt19937 rng(20261208);
    for (int step = 0; step < 3000; ++step) {
      const std::string key = RandomKey(rng, 3);
      switch (rng() % 10) {
        case 0:
          lmdb->Kill(key);
          memory.Kill(key);
          break;
        case 1: {
          const std::string source = RandomKey(rng, 1);
          if (key.starts_with(source) || source.starts_with(key)) break;  // no overlapping trees
          lmdb->Merge(key, source);
          memory.Merge(key, source);
          break;
        }
        case 2: {
          auto inc = [](const std::optional<std::string>& v) { return v.value_or("") + "+"; };
          ASSERT_EQ(lmdb->Update(key, inc), memory.Update(key, inc));
          break;
        }
        default: {
          const std::string value = std::to_string(step);
          lmdb->Set(key, value);
          memory.Set(key, value);
        }
      }
      // Probe a few random places after every update.
      for (int probe = 0; probe < 4; ++probe) {
        const std::string at = RandomKey(rng, 3);
        ASSERT_EQ(lmdb->Get(at), memory.Get(at));
        ASSERT_EQ(lmdb->Data(at), memory.Data(at));
        for (bool reverse : {false, true}) {
          ASSERT_EQ(lmdb->Query(at, reverse), memory.Query(at, reverse)) << "step " << step;
          // Order from no child, and from the node's own last subscript.
          ASSERT_EQ(lmdb->Order(at, "", reverse), memory.Order(at, "", reverse));
          const std::string_view parent = kc::Parent(at);
          if (parent.size() < at.size()) {
            const std::string after(at.substr(parent.size()));
            ASSERT_EQ(lmdb->Order(parent, after, reverse), memory.Order(parent, after, reverse)) << "step " << step;
          }
        }
      }
    }
  }
  fs::remove_all(dir);
}

}  // namespace

#include "global_routines.h"

#include <atomic>
#include <chrono>
#include <ctime>

#include "mengine/keycodec.h"
#include "routine_object.h"

namespace mserver {
namespace kc = mengine::keycodec;

namespace {

std::string Key(std::string_view global, std::initializer_list<std::string> subscripts) {
  return kc::Encode(global, std::vector<std::string>(subscripts));
}

std::string SourceKey(std::string_view name) { return Key("ROUTINE", {std::string(name)}); }
std::string ObjectKey(std::string_view name) { return Key("rOBJ", {std::string(name)}); }

std::string PastDescendants(std::string key) {
  key.push_back(kc::kPastDescendants);
  return key;
}

// Local time in $HOROLOG form: days since 31 Dec 1840, seconds of the day.
std::string Horolog() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const long long utcOffset = local.tm_gmtoff;
  const long long seconds = static_cast<long long>(now) + utcOffset;
  const long long days = seconds / 86400 + 47117;  // 1970-01-01 is day 47117
  return std::to_string(days) + "," + std::to_string(seconds % 86400);
}

}  // namespace

std::uint64_t NextRoutineVersion() {
  static std::atomic<std::uint64_t> next{1};
  return next.fetch_add(1);
}

std::shared_ptr<const mengine::RoutineImage> GlobalRoutineStore::Load(std::string_view name) {
  const std::uint64_t generation = globals_.RoutineGeneration();
  {
    std::lock_guard lock(mutex_);
    auto it = cache_.find(name);
    if (it != cache_.end() && it->second.generation == generation) return it->second.image;
  }
  auto stored = globals_.Get(ObjectKey(name));
  std::optional<RoutineObject> object;
  if (stored) object = DecodeRoutineObject(*stored);
  std::lock_guard lock(mutex_);
  if (!object) {
    // No routine, or ^rOBJ holds something this server did not write.
    cache_.erase(std::string(name));
    return nullptr;
  }
  // The source text is ^ROUTINE(name,0,...); once it is killed the routine
  // still runs from ^rOBJ, but shows no text.
  const bool hasSource = globals_.Get(Key("ROUTINE", {std::string(name), "0", "0"})).has_value();
  Cached& slot = cache_[std::string(name)];
  if (slot.image && slot.image->compiled == object->compiled && slot.image->source == object->lines &&
      slot.image->has_source == hasSource) {
    slot.generation = generation;  // unchanged: keep the engine's parsed form
    return slot.image;
  }
  auto image = std::make_shared<mengine::RoutineImage>();
  image->name = std::string(name);
  image->source = std::move(object->lines);
  image->compiled = std::move(object->compiled);
  image->version = NextRoutineVersion();
  image->has_source = hasSource;
  slot.generation = generation;
  slot.image = image;
  return image;
}

void GlobalRoutineStore::Save(std::string_view name, std::vector<std::string> source, std::string compiled) {
  const std::string n(name);
  const std::string sourceKey = SourceKey(name);
  std::vector<WriteOp> ops;
  ops.push_back({WriteOp::Kind::DeleteRange, sourceKey, PastDescendants(sourceKey)});
  ops.push_back({WriteOp::Kind::Put, Key("ROUTINE", {n, "0"}), Horolog()});
  ops.push_back({WriteOp::Kind::Put, Key("ROUTINE", {n, "0", "0"}), std::to_string(source.size())});
  for (std::size_t i = 0; i < source.size(); ++i) {
    ops.push_back({WriteOp::Kind::Put, Key("ROUTINE", {n, "0", std::to_string(i + 1)}), source[i]});
  }
  ops.push_back({WriteOp::Kind::Put, ObjectKey(name), EncodeRoutineObject({compiled, source})});
  globals_.Write(ops);
}

bool GlobalRoutineStore::Remove(std::string_view name) {
  const bool existed = globals_.Get(ObjectKey(name)).has_value();
  const std::string sourceKey = SourceKey(name);
  const std::string objectKey = ObjectKey(name);
  globals_.Write({{WriteOp::Kind::DeleteRange, sourceKey, PastDescendants(sourceKey)},
                  {WriteOp::Kind::DeleteRange, objectKey, PastDescendants(objectKey)}});
  return existed;
}

std::vector<std::string> GlobalRoutineStore::List() {
  std::vector<std::string> names;
  const std::string parent = kc::EncodeName("rOBJ");
  std::string after;
  while (auto sub = globals_.Order(parent, after, false)) {
    std::string key = parent + *sub;
    if (auto decoded = kc::DecodeSubscript(key, parent.size())) names.push_back(*decoded);
    after = std::move(*sub);
  }
  return names;
}

}  // namespace mserver

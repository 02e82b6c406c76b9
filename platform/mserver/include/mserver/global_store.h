// The engine's globals interface over an ordered byte store.
#pragma once

#include <memory>

#include "mengine/host.h"
#include "mserver/byte_store.h"

namespace mserver {

// Globals of one namespace kept in `store` (which must outlive the result).
std::unique_ptr<mengine::GlobalStore> MakeGlobalStore(ByteStore& store);

}  // namespace mserver

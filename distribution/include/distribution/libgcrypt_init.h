// libgcrypt's one-time start: its version checked against the headers and
// its initialisation finished, before the first digest or signature.
#pragma once

namespace dorvik {

// Idempotent and thread-safe. Secure memory stays off: it needs privileges
// the installer does not have, and the one secret (a maker's key) lives in
// dorpack only. Throws std::runtime_error when the library is older than
// its headers.
void InitialiseLibgcrypt();

}  // namespace dorvik

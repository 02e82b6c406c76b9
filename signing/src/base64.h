// Base64 (RFC 4648, with padding) for the key and signature lines.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace dorvik::signing {

std::string EncodeBase64(std::string_view bytes);
// Nothing when `text` is not canonical padded base64.
std::optional<std::string> DecodeBase64(std::string_view text);

}  // namespace dorvik::signing

// Cache list encoding. Element layout: total length (one byte when below
// 256, else 0 and two bytes, else 0,0,0 and four bytes, little-endian),
// then a type byte (1 = 8-bit string, 4 = positive integer, 5 = negative
// integer), then the data. An element of length 1 has no type: undefined.
#include "lists.h"

#include <cstdint>

#include "errors.h"

namespace mengine::lists {
namespace {

void AppendLength(std::string& out, std::size_t total) {
  if (total < 256) {
    out.push_back(static_cast<char>(total));
  } else if (total + 2 < 65536) {
    total += 2;
    out.push_back('\0');
    out.push_back(static_cast<char>(total & 0xFF));
    out.push_back(static_cast<char>((total >> 8) & 0xFF));
  } else {
    total += 6;
    out.append(3, '\0');
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((total >> (8 * i)) & 0xFF));
  }
}

}  // namespace

void Append(std::string& list, const Value* element) {
  if (!element) {
    list.push_back('\x01');
    return;
  }
  const Number& n = element->num();
  if (element->IsCanonicalNumber() && n.IsInteger() && n.exp == 0 && n.mant != INT64_MIN) {
    std::uint64_t mag = n.mant < 0 ? static_cast<std::uint64_t>(-n.mant) : static_cast<std::uint64_t>(n.mant);
    std::string bytes;
    while (mag > 0) {
      bytes.push_back(static_cast<char>(mag & 0xFF));
      mag >>= 8;
    }
    AppendLength(list, bytes.size() + 2);
    list.push_back(n.mant < 0 ? '\x05' : '\x04');
    list.append(bytes);
    return;
  }
  const std::string& s = element->str();
  AppendLength(list, s.size() + 2);
  list.push_back('\x01');
  list.append(s);
}

std::vector<std::optional<Value>> Split(std::string_view list) {
  std::vector<std::optional<Value>> out;
  std::size_t pos = 0;
  while (pos < list.size()) {
    auto byte = [&](std::size_t i) -> std::size_t {
      if (i >= list.size()) Throw("LIST");
      return static_cast<unsigned char>(list[i]);
    };
    std::size_t total = byte(pos), header = 1;
    if (total == 0) {
      total = byte(pos + 1) | (byte(pos + 2) << 8);
      header = 3;
      if (total == 0) {
        total = 0;
        for (int i = 0; i < 4; ++i) total |= byte(pos + 3 + static_cast<std::size_t>(i)) << (8 * i);
        header = 7;
      }
    }
    if (total < header || pos + total > list.size()) Throw("LIST");
    if (total == header) {
      out.emplace_back(std::nullopt);
      pos += total;
      continue;
    }
    auto type = byte(pos + header);
    std::string_view data = list.substr(pos + header + 1, total - header - 1);
    if (type == 1 || type == 2) {
      out.emplace_back(Value::Str(std::string(data)));
    } else if (type == 4 || type == 5) {
      std::uint64_t mag = 0;
      if (data.size() > 8) Throw("LIST");
      for (std::size_t i = 0; i < data.size(); ++i)
        mag |= static_cast<std::uint64_t>(static_cast<unsigned char>(data[i])) << (8 * i);
      auto v = static_cast<std::int64_t>(mag);
      out.emplace_back(Value::Int(type == 5 ? -v : v));
    } else {
      Throw("LIST");
    }
    pos += total;
  }
  return out;
}

}  // namespace mengine::lists

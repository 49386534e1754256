#include "prc/utf16.h"

#include <cstdint>

namespace prc {
namespace {

constexpr bool IsHighSurrogate(std::uint32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
constexpr bool IsLowSurrogate(std::uint32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

void Append(std::uint32_t code, std::string* out) {
  if (code < 0x80) {
    out->push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out->push_back(static_cast<char>(0xC0 | code >> 6));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | code >> 12));
    out->push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | code >> 18));
    out->push_back(static_cast<char>(0x80 | (code >> 12 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

}  // namespace

std::string NameFromUtf16(std::u16string_view name) {
  std::string out;
  out.reserve(name.size());
  for (std::size_t i = 0; i < name.size(); ++i) {
    std::uint32_t code = name[i];
    if (IsHighSurrogate(code) && i + 1 < name.size() && IsLowSurrogate(name[i + 1])) {
      code = 0x10000 + ((code - 0xD800) << 10) + (std::uint32_t{name[i + 1]} - 0xDC00);
      ++i;
    }
    Append(code, &out);
  }
  return out;
}

bool Utf16FromName(std::string_view bytes, std::u16string* name) {
  name->clear();
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto lead = static_cast<std::uint8_t>(bytes[i]);
    std::size_t more = 0;
    std::uint32_t code = 0;
    std::uint32_t least = 0;  // the smallest code point this length may carry
    if (lead < 0x80) {
      code = lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      more = 1;
      code = lead & 0x1FU;
      least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      more = 2;
      code = lead & 0x0FU;
      least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      more = 3;
      code = lead & 0x07U;
      least = 0x10000;
    } else {
      return false;
    }
    if (bytes.size() - i - 1 < more) return false;
    for (std::size_t k = 1; k <= more; ++k) {
      const auto next = static_cast<std::uint8_t>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = code << 6 | (next & 0x3FU);
    }
    if (code < least || code > 0x10FFFF) return false;
    // Only a surrogate written alone leaves a high one last: with a low one after it, it
    // is a pair written apart.
    if (IsLowSurrogate(code) && !name->empty() && IsHighSurrogate(name->back())) return false;
    if (code >= 0x10000) {
      name->push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
      name->push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
    } else {
      name->push_back(static_cast<char16_t>(code));
    }
    i += 1 + more;
  }
  return true;
}

}  // namespace prc

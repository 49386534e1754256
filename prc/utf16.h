// File names between the library's byte strings and a system that names files in UTF-16.
//
// The library carries every name as bytes. Where the system's names are UTF-16 (Windows),
// those bytes are the name in UTF-8, except that a surrogate standing alone, which such a
// system allows in a name and UTF-8 has no form for, is written as the three bytes UTF-8
// would give its code point. Every UTF-16 name thus has exactly one byte form and comes
// back from it unchanged, and a separator or dot is always its own single byte, never part
// of another character.
#ifndef PRC_UTF16_H_
#define PRC_UTF16_H_

#include <string>
#include <string_view>

namespace prc {

// The byte form of the UTF-16 name `name`. Never fails.
[[nodiscard]] std::string NameFromUtf16(std::u16string_view name);

// Sets `*name` to the UTF-16 name whose byte form is `bytes`. False, leaving `*name`
// unspecified, when `bytes` is no name's byte form: a byte sequence that is not UTF-8, an
// overlong form, a code point past U+10FFFF, or a pair of surrogates written apart (a
// pair has one four-byte form only).
[[nodiscard]] bool Utf16FromName(std::string_view bytes, std::u16string* name);

}  // namespace prc

#endif  // PRC_UTF16_H_

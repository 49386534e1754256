#include "prc/utf16.h"

#include <gtest/gtest.h>

#include <string>

namespace prc {
namespace {

// Every UTF-16 name has one byte form, and comes back from it unchanged.
TEST(Utf16Test, EveryNameRoundTripsThroughItsOneByteForm) {
  struct Case {
    std::u16string name;
    std::string bytes;
  };
  const Case cases[] = {
      {u"", ""},
      {u"A.PRC", "A.PRC"},
      {u"データ.PRC", "\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF.PRC"},
      // Characters whose code page 932 form ends in the separator's byte 0x5C.
      {u"ソ表\\x", "\xE3\x82\xBD\xE8\xA1\xA8\\x"},
      {u"\u00e9\u0800\uffff", "\xC3\xA9\xE0\xA0\x80\xEF\xBF\xBF"},
      {u"\U0001F600", "\xF0\x9F\x98\x80"},          // a surrogate pair
      {u"\U0010FFFF", "\xF4\x8F\xBF\xBF"},          // the last code point
      {std::u16string(1, 0xD800), "\xED\xA0\x80"},  // a high surrogate alone
      {std::u16string(1, 0xDFFF), "\xED\xBF\xBF"},  // a low surrogate alone
      // A low one before a high one is no pair: each alone.
      {std::u16string{0xDC00, 0xD800}, "\xED\xB0\x80\xED\xA0\x80"},
      {std::u16string{0xD800, u'x'}, "\xED\xA0\x80x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(NameFromUtf16(c.name), c.bytes);
    std::u16string back;
    ASSERT_TRUE(Utf16FromName(c.bytes, &back));
    EXPECT_EQ(back, c.name);
  }
}

// Bytes that are no name's form are refused, so no two byte strings name one file.
TEST(Utf16Test, BytesThatAreNoNamesFormAreRefused) {
  const std::string refused[] = {
      "\x80",                      // a continuation byte first
      "\xC0\xAF",                  // overlong "/"
      "\xC1\xBF",                  // overlong
      "\xE0\x80\xAF",              // overlong "/"
      "\xF0\x80\x80\xAF",          // overlong "/"
      "\xF4\x90\x80\x80",          // past U+10FFFF
      "\xF5\x80\x80\x80",          // no such lead byte
      "\xFF",                      // no such lead byte
      "\xC3",                      // cut short
      "\xE3\x83",                  // cut short
      "\xE3\x83x",                 // a continuation missing
      "\xED\xA0\xBD\xED\xB8\x80",  // U+1F600's pair written apart
  };
  for (const std::string& bytes : refused) {
    std::u16string name;
    EXPECT_FALSE(Utf16FromName(bytes, &name)) << testing::PrintToString(bytes);
  }
}

}  // namespace
}  // namespace prc

#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdint>
#include <string>

#include "cli/messages.h"

namespace cli {
namespace {

// Each message's text, which a terminal gets, is what its fixed bytes say as the C
// library's own code page 932 tables read them.
TEST(MessagesTest, EachTextIsWhatItsBytesSay) {
  iconv_t converter = iconv_open("UTF-8", "CP932");
  if (reinterpret_cast<std::intptr_t>(converter) == -1) GTEST_SKIP() << "no CP932 in iconv here";
  for (const Message* message : Message::kAll) {
    std::string bytes = message->bytes;
    char text[256] = {};
    char* from = bytes.data();
    char* to = text;
    std::size_t from_left = bytes.size();
    std::size_t to_left = sizeof text - 1;
    EXPECT_EQ(iconv(converter, &from, &from_left, &to, &to_left), 0U) << message->text;
    EXPECT_STREQ(text, message->text);
  }
  (void)iconv_close(converter);
}

}  // namespace
}  // namespace cli

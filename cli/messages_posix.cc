#include <strings.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "cli/messages.h"

namespace cli {
namespace {

// Whether `name`, as a locale's name (language_TERRITORY.codeset@modifier), names the
// UTF-8 codeset: "UTF-8" or "utf8", in any case.
bool NamesUtf8(const char* name) {
  const char* codeset = std::strchr(name, '.');
  if (codeset == nullptr) return false;
  ++codeset;
  const std::size_t length = std::strcspn(codeset, "@");
  return (length == 5 && strncasecmp(codeset, "UTF-8", 5) == 0) ||
         (length == 4 && strncasecmp(codeset, "utf8", 4) == 0);
}

// Whether the locale the environment chooses for characters, as the C library reads it
// (the first of LC_ALL, LC_CTYPE and LANG that is set and not empty), is a UTF-8 one. The
// variables are only read: the programs load no locale's data and stay as they are.
bool LocaleIsUtf8() {
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return NamesUtf8(value);
  }
  return false;
}

}  // namespace

// A person reads a terminal: one whose locale is UTF-8 gets the text as it shows it.
// Anything else, a pipe, a file, a terminal in another locale, gets the fixed bytes, which
// a program reading them may count on. A message that cannot be printed has nowhere else
// to go, so print results are dropped. It is flushed at once, to come out before any
// output a program writes after it without the C streams.
void Say(const Message& message) {
  std::FILE* const stream = message.stream == Stream::kOut ? stdout : stderr;
  const bool shown_as_utf8 = isatty(fileno(stream)) == 1 && LocaleIsUtf8();
  (void)std::fputs(shown_as_utf8 ? message.text : message.bytes, stream);
  (void)std::fflush(stream);
}

}  // namespace cli

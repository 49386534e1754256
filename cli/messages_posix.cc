#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
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

// The bytes go straight to the stream's descriptor: no buffer to allocate, nothing to
// flush, no look at what the stream is.
void Put(Stream stream, const char* text, std::size_t size) {
  const int fd = stream == Stream::kOut ? STDOUT_FILENO : STDERR_FILENO;
  while (size > 0) {
    const ssize_t n = write(fd, text, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text += n;
    size -= static_cast<std::size_t>(n);
  }
}

// A person reads a terminal: one whose locale is UTF-8 gets the text as it shows it.
// Anything else, a pipe, a file, a terminal in another locale, gets the fixed bytes, which
// a program reading them may count on.
void Say(const Message& message) {
  const int fd = message.stream == Stream::kOut ? STDOUT_FILENO : STDERR_FILENO;
  const char* const text = isatty(fd) == 1 && LocaleIsUtf8() ? message.text : message.bytes;
  Put(message.stream, text, std::strlen(text));
}

}  // namespace cli

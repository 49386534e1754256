#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "cli/messages.h"

namespace cli {

// Through the C runtime's text stream, which writes the system's line ends, flushed at
// once: where standard error is buffered (the C runtime buffers it when it is not a
// console), a text must still come out before any output a program writes after it
// without the C streams.
void Put(Stream stream, const char* text, std::size_t size) {
  std::FILE* const file = stream == Stream::kOut ? stdout : stderr;
  (void)std::fwrite(text, 1, size, file);
  (void)std::fflush(file);
}

// A console gets the text in UTF-16, which it shows whatever its code page, in any font
// that has the characters. Anything else, a pipe or a file, gets the fixed bytes, with the
// C runtime's CR LF, which a program reading them may count on.
void Say(const Message& message) {
  const bool out = message.stream == Stream::kOut;
  std::FILE* const stream = out ? stdout : stderr;
  HANDLE console = GetStdHandle(out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  DWORD mode = 0;
  // On the stack: the message that memory ran out must come out too. `length` counts the
  // terminating zero.
  wchar_t text[128];
  const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, message.text, -1, text,
                                         static_cast<int>(std::size(text)));
  if (GetConsoleMode(console, &mode) != 0 && length > 0) {
    wchar_t units[2 * std::size(text)];
    DWORD count = 0;
    for (int i = 0; i + 1 < length; ++i) {
      // CR LF, as the C runtime ends a line: a console set to only move down at LF still
      // starts the next line at its left edge.
      if (text[i] == L'\n') units[count++] = L'\r';
      units[count++] = text[i];
    }
    (void)std::fflush(stream);  // anything the C stream still holds comes first
    DWORD written = 0;
    (void)WriteConsoleW(console, units, count, &written, nullptr);
    return;
  }
  Put(message.stream, message.bytes, std::strlen(message.bytes));
}

}  // namespace cli

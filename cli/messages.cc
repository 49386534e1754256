#include "cli/messages.h"

#include <cstddef>
#include <cstdio>
#include <iterator>

namespace cli {
namespace {

enum class Stream { kOut, kErr };

struct Entry {
  Stream stream;
  const char* format;
};

// UNPRC_VERSION, the project's version as a string literal, comes from the build.

// Every message's place in the table: those of Message first, in its order, then those
// that take an argument.
enum class Text : int {
  kUsage = static_cast<int>(Message::kCount),
  kHelp,
  kMkprcUsage,
  kMkprcHelp,
  kPrccatHelp,
  kVersion,
  kKey,
  kCount,
};

constexpr int Index(Message message) { return static_cast<int>(message); }
constexpr int Index(Text text) { return static_cast<int>(text); }

// Indexed by Message, then Text. The Japanese texts are fixed Shift-JIS bytes, written as
// they are whatever the locale; "\n" is the line end the text stream writes for the platform.
constexpr Entry kTable[] = {
    // Message::kCannotOpen: "ファイルが開けません." (the file cannot be opened)
    {Stream::kErr,
     "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xAA\x8A\x4A\x82\xAF\x82\xDC\x82\xB9\x82\xF1.\n"},
    // Message::kAbnormal: "ファイルが異常です." (the file is abnormal)
    {Stream::kErr, "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xAA\x88\xD9\x8F\xED\x82\xC5\x82\xB7.\n"},
    // Message::kOk
    {Stream::kOut, "OK.\n"},
    // Message::kCannotWrite: "ファイルが書き込めません." (the file cannot be written)
    {Stream::kErr,
     "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xAA\x8F\x91\x82\xAB\x8D\x9E\x82\xDF\x82\xDC\x82\xB9"
     "\x82\xF1.\n"},
    // Message::kBackupExists: "バックアップファイルが既にあります." (the backup exists)
    {Stream::kErr,
     "\x83\x6F\x83\x62\x83\x4E\x83\x41\x83\x62\x83\x76\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xAA"
     "\x8A\xF9\x82\xC9\x82\xA0\x82\xE8\x82\xDC\x82\xB7.\n"},
    // Message::kNoMemory: "メモリが足りません." (there is not enough memory)
    {Stream::kErr, "\x83\x81\x83\x82\x83\x8A\x82\xAA\x91\xAB\x82\xE8\x82\xDC\x82\xB9\x82\xF1.\n"},
    // Message::kOutputExists: "出力ファイルが既にあります." (the output file already exists)
    {Stream::kErr,
     "\x8F\x6F\x97\xCD\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xAA\x8A\xF9\x82\xC9\x82\xA0\x82\xE8"
     "\x82\xDC\x82\xB7.\n"},
    // Message::kPressEnter
    {Stream::kErr, "Press Enter to close this window.\n"},
    // Text::kUsage: the program name
    {Stream::kErr, "Usage: %s (.PRC File)\n"},
    // Text::kHelp: the program name
    {Stream::kOut,
     "Usage: %s (.PRC File)\n"
     "Restores a scrambled .PRC file in place: prints the key from its header, writes\n"
     "the plain payload under the file's name and keeps the scrambled original as\n"
     "FILE.BAK. Exit status 0 after \"OK.\", 1 after an error. Errors are written in\n"
     "Japanese, in Shift-JIS (code page 932); the manual, unprc(1), shows how to read\n"
     "them.\n"
     "\n"
     "  --help     print this help and exit\n"
     "  --version  print the version and exit\n"
     "Any other argument is the file's name: a file named --help is ./--help.\n"},
    // Text::kMkprcUsage: the program name
    {Stream::kErr, "Usage: %s (Plain File) (.PRC File)\n"},
    // Text::kMkprcHelp: the program name
    {Stream::kOut,
     "Usage: %s (Plain File) (.PRC File)\n"
     "Writes the .PRC File as a scrambled container that holds the Plain File, so that\n"
     "unprc restores it byte for byte. The Plain File is at most 1,048,572 bytes; an\n"
     "existing .PRC File is never replaced. Exit status 0 after success, 1 after an\n"
     "error. Errors are written in Japanese, in Shift-JIS (code page 932); the manual,\n"
     "mkprc(1), shows how to read them.\n"
     "\n"
     "  --help     print this help and exit\n"
     "  --version  print the version and exit\n"},
    // Text::kPrccatHelp: the program name
    {Stream::kOut,
     "Usage: %s [FILE]...\n"
     "Writes each FILE's restored payload to standard output, in the order given:\n"
     "the bytes unprc would leave in FILE, as they are. Changes, creates and locks\n"
     "nothing. With no FILE, or where FILE is -, reads standard input. A FILE that\n"
     "cannot be read is reported and skipped. Exit status 0 when every FILE was\n"
     "written, 1 after an error. Errors are written in Japanese, in Shift-JIS (code\n"
     "page 932); the manual, prccat(1), shows how to read them.\n"
     "\n"
     "  --help     print this help and exit\n"
     "  --version  print the version and exit\n"
     "Each is an option only as the one argument; a file named --help is ./--help.\n"},
    // Text::kVersion: the tool's name
    {Stream::kOut, "%s " UNPRC_VERSION "\n"},
    // Text::kKey: the decode key
    {Stream::kOut, "decode key = 0x%04x ... "},
};
static_assert(std::size(kTable) == static_cast<std::size_t>(Text::kCount),
              "one entry for each message of Message and of Text");

// The printf conversions in `format`, as the one letter each ends with ('%' for "%%"),
// joined: "s" for a format that takes one string.
constexpr bool Takes(const char* format, const char* conversions) {
  bool in_conversion = false;
  for (; *format != '\0'; ++format) {
    if (!in_conversion) {
      in_conversion = *format == '%';
    } else if ((*format >= 'a' && *format <= 'z') || *format == '%') {
      if (*conversions != *format) return false;
      ++conversions;
      in_conversion = false;
    }
  }
  return !in_conversion && *conversions == '\0';
}

constexpr bool MessagesTakeNothing() {
  for (int i = 0; i < Index(Message::kCount); ++i) {
    if (!Takes(kTable[i].format, "")) return false;
  }
  return true;
}
static_assert(MessagesTakeNothing(), "a message of Message takes no argument");
static_assert(Takes(kTable[Index(Text::kUsage)].format, "s"), "kUsage takes a string");
static_assert(Takes(kTable[Index(Text::kHelp)].format, "s"), "kHelp takes a string");
static_assert(Takes(kTable[Index(Text::kMkprcUsage)].format, "s"), "kMkprcUsage takes a string");
static_assert(Takes(kTable[Index(Text::kMkprcHelp)].format, "s"), "kMkprcHelp takes a string");
static_assert(Takes(kTable[Index(Text::kPrccatHelp)].format, "s"), "kPrccatHelp takes a string");
static_assert(Takes(kTable[Index(Text::kVersion)].format, "s"), "kVersion takes a string");
static_assert(Takes(kTable[Index(Text::kKey)].format, "x"), "kKey takes an unsigned number");

std::FILE* StreamOf(const Entry& entry) { return entry.stream == Stream::kOut ? stdout : stderr; }

// Prints the entry of `text` with its one string argument.
void SayText(Text text, const char* argument) {
  const Entry& entry = kTable[Index(text)];
  (void)std::fprintf(StreamOf(entry), entry.format, argument);
}

}  // namespace

// A message that cannot be printed has nowhere else to go, so print results are dropped.
// Each is flushed at once: where standard error is buffered (the Windows C runtime buffers
// it when it is not a console), a message must still come out before any output that a
// program writes after it without the C streams.
void Say(Message message) {
  if (message == Message::kCount) return;
  const Entry& entry = kTable[Index(message)];
  (void)std::fputs(entry.format, StreamOf(entry));
  (void)std::fflush(StreamOf(entry));
}

void SayUsage(const char* program) { SayText(Text::kUsage, program); }

void SayHelp(const char* program) { SayText(Text::kHelp, program); }

void SayMkprcUsage(const char* program) { SayText(Text::kMkprcUsage, program); }

void SayMkprcHelp(const char* program) { SayText(Text::kMkprcHelp, program); }

void SayPrccatHelp(const char* program) { SayText(Text::kPrccatHelp, program); }

void SayVersion(const char* tool) { SayText(Text::kVersion, tool); }

void SayKey(unsigned key) {
  const Entry& entry = kTable[Index(Text::kKey)];
  (void)std::fprintf(StreamOf(entry), entry.format, key);
  (void)std::fflush(StreamOf(entry));
}

}  // namespace cli

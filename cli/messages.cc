#include "cli/messages.h"

#include <cstddef>
#include <cstdio>
#include <iterator>

namespace cli {
namespace {

enum class Stream { kOut, kErr };

struct Entry {
  Stream stream;
  const char* text;
};

// The texts that take nothing, indexed by Message. The Japanese texts are fixed
// Shift-JIS bytes, written as they are whatever the locale; "\n" is the line end the text
// stream writes for the platform.
constexpr Entry kTable[] = {
    // kCannotOpen: "ファイルが開けません." (the file cannot be opened)
    {Stream::kErr,
     "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xAA\x8A\x4A\x82\xAF\x82\xDC\x82\xB9\x82\xF1.\n"},
    // kAbnormal: "ファイルが異常です." (the file is abnormal)
    {Stream::kErr, "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xAA\x88\xD9\x8F\xED\x82\xC5\x82\xB7.\n"},
    // kOk
    {Stream::kOut, "OK.\n"},
    // kCannotWrite: "ファイルが書き込めません." (the file cannot be written)
    {Stream::kErr,
     "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xAA\x8F\x91\x82\xAB\x8D\x9E\x82\xDF\x82\xDC\x82\xB9"
     "\x82\xF1.\n"},
    // kBackupExists: "バックアップファイルが既にあります." (the backup file already exists)
    {Stream::kErr,
     "\x83\x6F\x83\x62\x83\x4E\x83\x41\x83\x62\x83\x76\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xAA"
     "\x8A\xF9\x82\xC9\x82\xA0\x82\xE8\x82\xDC\x82\xB7.\n"},
    // kNoMemory: "メモリが足りません." (there is not enough memory)
    {Stream::kErr, "\x83\x81\x83\x82\x83\x8A\x82\xAA\x91\xAB\x82\xE8\x82\xDC\x82\xB9\x82\xF1.\n"},
    // kOutputExists: "出力ファイルが既にあります." (the output file already exists)
    {Stream::kErr,
     "\x8F\x6F\x97\xCD\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xAA\x8A\xF9\x82\xC9\x82\xA0\x82\xE8"
     "\x82\xDC\x82\xB7.\n"},
};
static_assert(std::size(kTable) == static_cast<std::size_t>(Message::kCount),
              "one entry for each Message, in its order");

}  // namespace

// A message that cannot be printed has nowhere else to go, so print results are dropped.
// Texts that take something are written out in their own functions, where the compiler
// checks each format against the argument it is given.
void Say(Message message) {
  const Entry& entry = kTable[static_cast<std::size_t>(message)];
  (void)std::fputs(entry.text, entry.stream == Stream::kOut ? stdout : stderr);
}

void SayUsage(const char* program) {
  (void)std::fprintf(stderr, "Usage: %s (.PRC File)\n", program);
}

void SayKey(std::uint16_t key) {
  (void)std::fprintf(stdout, "decode key = 0x%04x ... ", static_cast<unsigned>(key));
  (void)std::fflush(stdout);
}

void SayMkprcUsage(const char* program) {
  (void)std::fprintf(stderr, "Usage: %s (Plain File) (.PRC File)\n", program);
}

void SayMkprcHelp(const char* program) {
  (void)std::fprintf(stdout,
                     "Usage: %s (Plain File) (.PRC File)\n"
                     "Writes the .PRC File as a scrambled container that holds the Plain File,\n"
                     "so that unprc restores it byte for byte. The Plain File is at most\n"
                     "1,048,572 bytes; an existing .PRC File is never replaced.\n",
                     program);
}

void SayVersion(const char* tool) { (void)std::fprintf(stdout, "%s %s\n", tool, UNPRC_VERSION); }

}  // namespace cli

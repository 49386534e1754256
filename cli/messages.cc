#include "cli/messages.h"

#include <cstdio>

namespace cli {
namespace {

enum class Stream { kOut, kErr };

struct Entry {
  Stream stream;
  const char* format;
};

// Indexed by Message. The Japanese texts are fixed Shift-JIS bytes, written as they are
// whatever the locale; "\n" is the line end the text stream writes for the platform.
constexpr Entry kTable[] = {
    // kUsage
    {Stream::kErr, "Usage: %s (.PRC File)\n"},
    // kCannotOpen: "ファイルが開けません." (the file cannot be opened)
    {Stream::kErr,
     "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xAA\x8A\x4A\x82\xAF\x82\xDC\x82\xB9\x82\xF1.\n"},
    // kAbnormal: "ファイルが異常です." (the file is abnormal)
    {Stream::kErr, "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xAA\x88\xD9\x8F\xED\x82\xC5\x82\xB7.\n"},
    // kKey
    {Stream::kOut, "decode key = 0x%04x ... "},
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
};

const Entry& Lookup(Message message) { return kTable[static_cast<int>(message)]; }

std::FILE* StreamOf(const Entry& entry) { return entry.stream == Stream::kOut ? stdout : stderr; }

}  // namespace

// A message that cannot be printed has nowhere else to go, so print results are dropped.
void Say(Message message) {
  const Entry& entry = Lookup(message);
  (void)std::fputs(entry.format, StreamOf(entry));
}

void Say(Message message, const char* program) {
  const Entry& entry = Lookup(message);
  (void)std::fprintf(StreamOf(entry), entry.format, program);
}

void Say(Message message, unsigned key) {
  const Entry& entry = Lookup(message);
  (void)std::fprintf(StreamOf(entry), entry.format, key);
  (void)std::fflush(StreamOf(entry));
}

}  // namespace cli

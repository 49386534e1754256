#include "cli/messages.h"

#include <cstddef>
#include <string>

// UNPRC_VERSION, the project's version as a string literal, comes from the build.

namespace cli {

// Each row: the stream, the code page 932 bytes, and the same text in UTF-8.
const Message Message::kCannotOpen = {
    Stream::kErr,
    "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xAA\x8A\x4A\x82\xAF\x82\xDC\x82\xB9\x82\xF1.\n",
    u8"ファイルが開けません.\n"};
const Message Message::kAbnormal = {
    Stream::kErr, "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xAA\x88\xD9\x8F\xED\x82\xC5\x82\xB7.\n",
    u8"ファイルが異常です.\n"};
const Message Message::kOk = {Stream::kOut, "OK.\n", "OK.\n"};
const Message Message::kCannotWrite = {
    Stream::kErr,
    "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xAA\x8F\x91\x82\xAB\x8D\x9E\x82\xDF\x82\xDC\x82\xB9"
    "\x82\xF1.\n",
    u8"ファイルが書き込めません.\n"};
const Message Message::kBackupExists = {
    Stream::kErr,
    "\x83\x6F\x83\x62\x83\x4E\x83\x41\x83\x62\x83\x76\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xAA"
    "\x8A\xF9\x82\xC9\x82\xA0\x82\xE8\x82\xDC\x82\xB7.\n",
    u8"バックアップファイルが既にあります.\n"};
const Message Message::kNoMemory = {
    Stream::kErr, "\x83\x81\x83\x82\x83\x8A\x82\xAA\x91\xAB\x82\xE8\x82\xDC\x82\xB9\x82\xF1.\n",
    u8"メモリが足りません.\n"};
const Message Message::kOutputExists = {
    Stream::kErr,
    "\x8F\x6F\x97\xCD\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xAA\x8A\xF9\x82\xC9\x82\xA0\x82\xE8"
    "\x82\xDC\x82\xB7.\n",
    u8"出力ファイルが既にあります.\n"};
const Message Message::kPressEnter = {Stream::kErr, "Press Enter to close this window.\n",
                                      "Press Enter to close this window.\n"};
const Message* const Message::kAll[8] = {&kCannotOpen,   &kAbnormal, &kOk,           &kCannotWrite,
                                         &kBackupExists, &kNoMemory, &kOutputExists, &kPressEnter};

const ProgramText ProgramText::kUnprcUsage = {Stream::kErr, "Usage: ", " (.PRC File)\n"};
const ProgramText ProgramText::kUnprcHelp = {
    Stream::kOut, "Usage: ",
    " (.PRC File)\n"
    "Restores a scrambled .PRC file in place: prints the key from its header, writes\n"
    "the plain payload under the file's name and keeps the scrambled original as\n"
    "FILE.BAK. Exit status 0 after \"OK.\", 1 after an error. Errors are written in\n"
    "Japanese: as text on a UTF-8 terminal or a Windows console, else in Shift-JIS\n"
    "(code page 932); the manual, unprc(1), shows how to read them.\n"
    "\n"
    "  --help     print this help and exit\n"
    "  --version  print the version and exit\n"
    "Any other argument is the file's name: a file named --help is ./--help.\n"};
const ProgramText ProgramText::kMkprcUsage = {Stream::kErr,
                                              "Usage: ", " (Plain File) (.PRC File)\n"};
const ProgramText ProgramText::kMkprcHelp = {
    Stream::kOut, "Usage: ",
    " (Plain File) (.PRC File)\n"
    "Writes the .PRC File as a scrambled container that holds the Plain File, so that\n"
    "unprc restores it byte for byte. The Plain File is at most 1,048,572 bytes; an\n"
    "existing .PRC File is never replaced. Exit status 0 after success, 1 after an\n"
    "error. Errors are written in Japanese: as text on a UTF-8 terminal or a Windows\n"
    "console, else in Shift-JIS (code page 932); the manual, mkprc(1), shows how to\n"
    "read them.\n"
    "\n"
    "  --help     print this help and exit\n"
    "  --version  print the version and exit\n"};
const ProgramText ProgramText::kPrccatHelp = {
    Stream::kOut, "Usage: ",
    " [FILE]...\n"
    "Writes each FILE's restored payload to standard output, in the order given:\n"
    "the bytes unprc would leave in FILE, as they are. Changes, creates and locks\n"
    "nothing. With no FILE, or where FILE is -, reads standard input. A FILE that\n"
    "cannot be read is reported and skipped. Exit status 0 when every FILE was\n"
    "written, 1 after an error. Errors are written in Japanese: as text on a UTF-8\n"
    "terminal or a Windows console, else in Shift-JIS (code page 932); the manual,\n"
    "prccat(1), shows how to read them.\n"
    "\n"
    "  --help     print this help and exit\n"
    "  --version  print the version and exit\n"
    "Each is an option only as the one argument; a file named --help is ./--help.\n"};
const ProgramText ProgramText::kVersion = {Stream::kOut, "", " " UNPRC_VERSION "\n"};

// One piece of text, so that it is written in one go.
void Say(const ProgramText& text, const char* program) {
  const std::string whole = std::string(text.before) + program + text.after;
  Put(text.stream, whole.data(), whole.size());
}

void SayKey(unsigned key) {
  char line[] = "decode key = 0x0000 ... ";
  constexpr std::size_t kLastDigit = 18;
  for (std::size_t i = 0; i < 4; ++i) {
    line[kLastDigit - i] = "0123456789abcdef"[(key >> (4 * i)) & 0xFU];
  }
  Put(Stream::kOut, line, sizeof line - 1);
}

}  // namespace cli

// Everything the tools say, and the exit statuses they end with.
#ifndef CLI_MESSAGES_H_
#define CLI_MESSAGES_H_

#include <cstddef>

namespace cli {

enum ExitStatus : int {
  kExitOk = 0,
  kExitFailure = 1,
};

enum class Stream { kOut, kErr };

// A fixed text and the stream it goes to, in the two forms of its one text: the fixed
// code page 932 (Shift-JIS) bytes that anything but a terminal gets, exactly as they are
// whatever the locale, and the text in UTF-8, from which a terminal's own form is made.
// "\n" is the line end the platform writes.
struct Message {
  Stream stream;
  const char* bytes;  // code page 932
  const char* text;   // UTF-8

  static const Message kCannotOpen;  // "ファイルが開けません." (cannot open the file)
  static const Message kAbnormal;    // "ファイルが異常です." (the file is abnormal)
  static const Message kOk;          // "OK."
  static const Message kCannotWrite;  // "ファイルが書き込めません." (cannot write the file)
  static const Message kBackupExists;  // "バックアップファイルが既にあります."
  static const Message kNoMemory;      // "メモリが足りません." (not enough memory)
  static const Message kOutputExists;  // "出力ファイルが既にあります."
  static const Message kPressEnter;    // asks for Enter before the window closes
  // Each of the above, to go through them all.
  static const Message* const kAll[8];
};

// A text that names a program: `before`, then the name, then `after`.
struct ProgramText {
  Stream stream;
  const char* before;
  const char* after;

  static const ProgramText kUnprcUsage;  // standard error
  static const ProgramText kUnprcHelp;   // standard output
  static const ProgramText kMkprcUsage;  // standard error
  static const ProgramText kMkprcHelp;   // standard output
  static const ProgramText kPrccatHelp;  // standard output; prccat has no usage error
  static const ProgramText kVersion;     // standard output: "NAME VERSION"
};

// Each of these prints its text at once, in one piece, nothing left in a buffer: it shows
// before anything printed after it, on either stream. A text that cannot be printed has
// nowhere else to go, so failures are dropped.
//
// Prints `message`: its text where the stream is a terminal that shows it
// (cli/messages_*.cc, one file per platform, decide), else its bytes.
void Say(const Message& message);
// Prints `text` naming `program`.
void Say(const ProgramText& text, const char* program);
// Prints "decode key = 0xKKKK ... ", KKKK the key in four lower-case hexadecimal digits.
void SayKey(unsigned key);

// Writes `size` bytes of `text` to `stream`, as the platform writes text (one file per
// platform).
void Put(Stream stream, const char* text, std::size_t size);

}  // namespace cli

#endif  // CLI_MESSAGES_H_

// Everything the tools say, and the exit statuses they end with.
#ifndef CLI_MESSAGES_H_
#define CLI_MESSAGES_H_

namespace cli {

enum ExitStatus : int {
  kExitOk = 0,
  kExitFailure = 1,
};

enum class Stream { kOut, kErr };

// A fixed text and the stream it goes to. The Japanese texts are fixed Shift-JIS bytes,
// written as they are whatever the locale; "\n" is the line end the text stream writes
// for the platform.
struct Message {
  Stream stream;
  const char* text;

  static const Message kCannotOpen;  // "ファイルが開けません." (cannot open the file)
  static const Message kAbnormal;    // "ファイルが異常です." (the file is abnormal)
  static const Message kOk;          // "OK."
  static const Message kCannotWrite;  // "ファイルが書き込めません." (cannot write the file)
  static const Message kBackupExists;  // "バックアップファイルが既にあります."
  static const Message kNoMemory;      // "メモリが足りません." (not enough memory)
  static const Message kOutputExists;  // "出力ファイルが既にあります."
  static const Message kPressEnter;    // asks for Enter before the window closes
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

// Prints `message`, then flushes its stream.
void Say(const Message& message);
// Prints `text` naming `program`.
void Say(const ProgramText& text, const char* program);
// Prints "decode key = 0xKKKK ... ", then flushes standard output so that the key shows
// before anything printed later on standard error.
void SayKey(unsigned key);

}  // namespace cli

#endif  // CLI_MESSAGES_H_

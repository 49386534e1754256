// Everything the tools say, and the exit statuses they end with.
#ifndef CLI_MESSAGES_H_
#define CLI_MESSAGES_H_

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

// Prints `message`, then flushes its stream: its text where the stream is a terminal that
// shows it (cli/messages_*.cc, one file per platform, decide), else its bytes.
void Say(const Message& message);
// Prints `text` naming `program`.
void Say(const ProgramText& text, const char* program);
// Prints "decode key = 0xKKKK ... ", then flushes standard output so that the key shows
// before anything printed later on standard error.
void SayKey(unsigned key);

}  // namespace cli

#endif  // CLI_MESSAGES_H_

// Everything the tools say, and the exit statuses they end with.
#ifndef CLI_MESSAGES_H_
#define CLI_MESSAGES_H_

namespace cli {

enum ExitStatus : int {
  kExitOk = 0,
  kExitFailure = 1,
};

// The messages that take nothing; each that takes an argument has its own function below.
enum class Message {
  kCannotOpen,    // standard error
  kAbnormal,      // standard error
  kOk,            // standard output
  kCannotWrite,   // standard error
  kBackupExists,  // standard error
  kNoMemory,      // standard error
  kOutputExists,  // standard error
  kPressEnter,    // standard error: asks for Enter before the window closes
  kCount,         // not a message: the number of them
};

// Prints a message that takes nothing.
void Say(Message message);
// Prints the usage line, naming `program`, on standard error.
void SayUsage(const char* program);
// Prints the usage line, naming `program`, and what unprc does, on standard output.
void SayHelp(const char* program);
// mkprc's usage line and help, naming `program`: on standard error and output.
void SayMkprcUsage(const char* program);
void SayMkprcHelp(const char* program);
// prccat's help, naming `program`, on standard output. It has no usage error: any
// arguments are files, and none reads standard input.
void SayPrccatHelp(const char* program);
// Prints "`tool` VERSION" on standard output.
void SayVersion(const char* tool);
// Prints the decode key, then flushes standard output so that the key shows before anything
// printed later on standard error.
void SayKey(unsigned key);

}  // namespace cli

#endif  // CLI_MESSAGES_H_

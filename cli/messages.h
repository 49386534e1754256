// Everything the tool says, and the exit statuses it ends with.
#ifndef CLI_MESSAGES_H_
#define CLI_MESSAGES_H_

namespace cli {

enum ExitStatus : int {
  kExitOk = 0,
  kExitFailure = 1,
};

enum class Message {
  kUsage,         // standard error; takes the program name
  kCannotOpen,    // standard error
  kAbnormal,      // standard error
  kKey,           // standard output; takes the decode key
  kOk,            // standard output
  kCannotWrite,   // standard error
  kBackupExists,  // standard error
  kNoMemory,      // standard error
};

// Prints a message that takes nothing.
void Say(Message message);
// Prints kUsage with `program` in it.
void Say(Message message, const char* program);
// Prints kKey with `key` in it, then flushes standard output so that the key shows before
// anything printed later on standard error.
void Say(Message message, unsigned key);

}  // namespace cli

#endif  // CLI_MESSAGES_H_

// Everything the tools say, and the exit statuses they end with.
#ifndef CLI_MESSAGES_H_
#define CLI_MESSAGES_H_

#include <cstdint>

namespace cli {

enum ExitStatus : int {
  kExitOk = 0,
  kExitFailure = 1,
};

// The messages that take nothing. Each one that takes something has its own function
// below, typed for it.
enum class Message {
  kCannotOpen,    // standard error
  kAbnormal,      // standard error
  kOk,            // standard output
  kCannotWrite,   // standard error
  kBackupExists,  // standard error
  kNoMemory,      // standard error
  kOutputExists,  // standard error
  kCount,         // not a message: the number of them
};

// Prints a message that takes nothing.
void Say(Message message);

// unprc's usage text, naming `program`, on standard error.
void SayUsage(const char* program);

// The decode key on standard output, then flushes it so that the key shows before
// anything printed later on standard error.
void SayKey(std::uint16_t key);

// mkprc's usage text, naming `program`, on standard error.
void SayMkprcUsage(const char* program);

// mkprc's usage text and what it does, on standard output.
void SayMkprcHelp(const char* program);

// `tool` and the version of these tools, on standard output.
void SayVersion(const char* tool);

}  // namespace cli

#endif  // CLI_MESSAGES_H_

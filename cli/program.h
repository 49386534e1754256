// What the three programs share around their work: the standard options and a failed run.
#ifndef CLI_PROGRAM_H_
#define CLI_PROGRAM_H_

#include "cli/entry.h"
#include "cli/messages.h"

namespace cli {

// Answers --help and --version, each only as the one argument: says `help` naming the
// program as it was invoked (`name` when it was given none), or "NAME VERSION". False,
// saying nothing, for any other arguments.
[[nodiscard]] bool AnswersStandardOption(const Arguments& arguments, const char* name,
                                         const ProgramText& help);

// The name a usage text shows: the one the program was invoked by, else `name`.
[[nodiscard]] const char* InvokedName(const Arguments& arguments, const char* name);

// Says `message` and returns the status of a failed run.
int Fail(const Message& message);

}  // namespace cli

#endif  // CLI_PROGRAM_H_

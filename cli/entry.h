// The one entry point every program shares, one source file per platform: it readies the
// process, hands the program its arguments, and ends with the status the program returns.
#ifndef CLI_ENTRY_H_
#define CLI_ENTRY_H_

#include <string>
#include <vector>

namespace cli {

// What a program was started with.
struct Arguments {
  // The name it was invoked by, as the text streams show it (the bytes the system's code
  // page gives it on Windows); empty when it was given none.
  std::string program;
  // Its arguments after that name, as names the library takes (see prc/utf16.h on
  // Windows; the bytes as given elsewhere).
  std::vector<std::string> operands;
};

// Each program defines this: does its work and returns its exit status. It runs after
// prc::PrepareProcess().
int Run(const Arguments& arguments);

}  // namespace cli

#endif  // CLI_ENTRY_H_

#include "cli/program.h"

#include <string>

namespace cli {

bool AnswersStandardOption(const Arguments& arguments, const char* name, const ProgramText& help) {
  if (arguments.operands.size() != 1) return false;
  const std::string& option = arguments.operands[0];
  if (option == "--help") {
    Say(help, InvokedName(arguments, name));
    return true;
  }
  if (option == "--version") {
    Say(ProgramText::kVersion, name);
    return true;
  }
  return false;
}

const char* InvokedName(const Arguments& arguments, const char* name) {
  return arguments.program.empty() ? name : arguments.program.c_str();
}

int Fail(const Message& message) {
  Say(message);
  return kExitFailure;
}

}  // namespace cli

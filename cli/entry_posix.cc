#include "cli/entry.h"
#include "prc/process.h"

int main(int argc, char* argv[]) {
  prc::PrepareProcess();
  cli::Arguments arguments;
  if (argc > 0 && argv[0] != nullptr) arguments.program = argv[0];
  for (int i = 1; i < argc; ++i) arguments.operands.emplace_back(argv[i]);
  return cli::Run(arguments);
}

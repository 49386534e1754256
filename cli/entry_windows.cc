#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <string>

#include "cli/entry.h"
#include "cli/messages.h"
#include "prc/process.h"
#include "prc/utf16.h"

namespace {

// `name` in the system's code page, as a program started with byte-string arguments would
// have been given it; characters the code page lacks become the system's look-alikes.
std::string InCodePage(const wchar_t* name) {
  const int size = WideCharToMultiByte(CP_ACP, 0, name, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string bytes(static_cast<std::size_t>(size), '\0');
  (void)WideCharToMultiByte(CP_ACP, 0, name, -1, bytes.data(), size, nullptr, nullptr);
  bytes.pop_back();  // the terminating zero
  return bytes;
}

// The UTF-16 units of `name`, copied: wchar_t is the system's 16-bit unit here, but a
// type of its own.
std::u16string Units(const wchar_t* name) {
  std::u16string units;
  for (; *name != L'\0'; ++name) units.push_back(static_cast<char16_t>(*name));
  return units;
}

}  // namespace

// The wide entry point: the arguments arrive as the system holds them, so a file's name
// reaches the library whole, whatever characters it has and whatever the code page.
int wmain(int argc, wchar_t* argv[]) {
  prc::PrepareProcess();
  cli::Arguments arguments;
  if (argc > 0 && argv[0] != nullptr) arguments.program = InCodePage(argv[0]);
  for (int i = 1; i < argc; ++i) {
    arguments.operands.push_back(prc::NameFromUtf16(Units(argv[i])));
  }
  const int status = cli::Run(arguments);
  // Started for a dropped file, the tool's window would close with its result unread.
  if (prc::WindowClosesAtExit()) {
    cli::Say(cli::Message::kPressEnter);
    prc::WaitForEnter();
  }
  return status;
}

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstring>
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

// Whether the console's window closes as soon as the process ends, before anyone could
// read what it wrote: the console has a window, this process is the only one attached to
// it, and standard input is that console, as when a file dropped on the program starts it
// in a window of its own. Never for a console without a window, as Task Scheduler and
// programs that hide the console start it (CREATE_NO_WINDOW): nobody could press Enter
// there. Never when the program was started from a console window (whose shell is attached
// too), by a script, or with its input redirected. Whether the window is visible is not
// asked: a pseudo console, which Windows Terminal shows in a window of its own, has a
// stand-in window that need not say it is.
bool WindowClosesAtExit() {
  DWORD processes[2];
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  return GetConsoleWindow() != nullptr && GetConsoleProcessList(processes, 2) == 1 &&
         input != nullptr && input != INVALID_HANDLE_VALUE && GetConsoleMode(input, &mode) != 0;
}

// Waits until Enter is pressed on the console, or its input ends or fails. Keys pressed
// before the call do not count.
void WaitForEnter() {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  (void)FlushConsoleInputBuffer(input);
  // The console gives a line only once Enter ends it; a line longer than the buffer comes
  // in several reads.
  char line[256];
  DWORD count = 0;
  while (ReadFile(input, line, sizeof line, &count, nullptr) && count > 0) {
    if (std::memchr(line, '\n', count) != nullptr) return;
  }
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
  if (WindowClosesAtExit()) {
    cli::Say(cli::Message::kPressEnter);
    WaitForEnter();
  }
  return status;
}

// What the Windows end-to-end cases need done beside the tool, as another process on the
// same machine would do it:
//
//   windows_helper hold PATH MILLISECONDS
//     Opens PATH for reading without delete sharing, as a virus scanner or an indexer
//     does, as soon as it can, prints "held", holds it for MILLISECONDS and exits 0;
//     exits 1 when PATH does not open within 20 seconds.
//
//   windows_helper interrupt PATH BEFORE AFTER PROGRAM [ARGUMENT]...
//     Starts PROGRAM on this process's console (which it must have: under the emulator,
//     a terminal), opens PATH without delete sharing as soon as it can, so that the tool's
//     open or removal of it waits, sends the console a Ctrl+C BEFORE milliseconds later,
//     holds PATH AFTER milliseconds longer, then waits for PROGRAM and prints its exit
//     status in hexadecimal ("0x...") on standard output. Exits 0, or 1 when PROGRAM
//     does not start or PATH never opens.
//
//   windows_helper scan PATH MILLISECONDS PROGRAM [ARGUMENT]...
//     As interrupt, but while PROGRAM runs opens PATH as a virus scanner does, whenever it
//     can, trying without pause, and holds it MILLISECONDS each time; then prints the
//     status and how often PATH was held ("held N").
//
//   windows_helper hidden PROGRAM [ARGUMENT]...
//     Starts PROGRAM on a console of its own without a window (CREATE_NO_WINDOW), as Task
//     Scheduler does, and prints its status, or "still running" (and ends it) after 20 s.
//
//   windows_helper attributes PATH
//     Prints PATH's read-only and hidden attributes, as "0x..." of FILE_ATTRIBUTE_* bits.
//
//   windows_helper access PATH
//     Prints PATH's discretionary access list with its control flags, as SDDL.
//
//   windows_helper set-attributes PATH BITS
//     Sets PATH's attributes to BITS (hexadecimal FILE_ATTRIBUTE_* bits; 0 for none).
//
//   windows_helper move FROM TO
//     Renames FROM to TO; on failure prints the system's error number and exits 1.
//
//   windows_helper short PATH
//     Prints PATH with each part in its short (8.3) form, in UTF-8.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// Needs windows.h first.
#include <sddl.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

HANDLE OpenWithoutDeleteSharing(const wchar_t* path) {
  return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The command line that gives `argument` to a program as it is.
std::wstring Quoted(const std::wstring& argument) {
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    out.push_back(c);
  }
  out.append(2 * backslashes, L'\\');
  return out + L"\"";
}

// Opens `path` as OpenWithoutDeleteSharing does, trying every millisecond for 20 seconds.
HANDLE OpenAsSoonAsPossible(const wchar_t* path) {
  HANDLE held = INVALID_HANDLE_VALUE;
  for (int tries = 0; tries < 20000 && held == INVALID_HANDLE_VALUE; ++tries) {
    held = OpenWithoutDeleteSharing(path);
    if (held == INVALID_HANDLE_VALUE) Sleep(1);
  }
  return held;
}

int Hold(const wchar_t* path, DWORD milliseconds) {
  HANDLE h = OpenAsSoonAsPossible(path);
  if (h == INVALID_HANDLE_VALUE) return 1;
  std::printf("held\n");
  (void)std::fflush(stdout);
  Sleep(milliseconds);
  CloseHandle(h);
  return 0;
}

// Starts the `count` words at `program`, with `flags` 0 on this process's console and
// streams; false when it does not start.
bool Start(int count, wchar_t** program, DWORD flags, PROCESS_INFORMATION* child) {
  std::wstring line;
  for (int i = 0; i < count; ++i) line += (i > 0 ? L" " : L"") + Quoted(program[i]);
  // The tool's output goes where this program's goes, also when a console is made here.
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = flags == 0 ? STARTF_USESTDHANDLES : 0;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  return CreateProcessW(nullptr, line.data(), nullptr, nullptr, flags == 0, flags, nullptr, nullptr,
                        &startup, child) != 0;
}

// Prints `child`'s exit status once it ends, or "still running" after `milliseconds`;
// whether it ended.
bool PrintStatus(const PROCESS_INFORMATION& child, DWORD milliseconds = INFINITE) {
  DWORD status = 0;
  const bool ended = WaitForSingleObject(child.hProcess, milliseconds) == WAIT_OBJECT_0 &&
                     GetExitCodeProcess(child.hProcess, &status);
  if (ended) std::printf("0x%08lX\n", static_cast<unsigned long>(status));
  if (!ended) std::printf("still running\n");
  return ended;
}

int Interrupt(const wchar_t* path, DWORD before, DWORD after, int count, wchar_t** program) {
  PROCESS_INFORMATION child{};
  if (!Start(count, program, 0, &child)) return 1;
  HANDLE held = OpenAsSoonAsPossible(path);
  if (held == INVALID_HANDLE_VALUE) return 1;
  Sleep(before);  // the tool is now trying its open or removal again and again
  // Every process on the console gets it; this one ignores it.
  (void)SetConsoleCtrlHandler(nullptr, TRUE);
  (void)GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
  Sleep(after);
  CloseHandle(held);
  PrintStatus(child);
  return 0;
}

int Scan(const wchar_t* path, DWORD milliseconds, int count, wchar_t** program) {
  PROCESS_INFORMATION child{};
  if (!Start(count, program, 0, &child)) return 1;
  int times = 0;
  while (WaitForSingleObject(child.hProcess, 0) == WAIT_TIMEOUT) {
    HANDLE held = OpenWithoutDeleteSharing(path);
    if (held == INVALID_HANDLE_VALUE) continue;  // and again at once: a moment is enough
    ++times;
    Sleep(milliseconds);
    CloseHandle(held);
  }
  PrintStatus(child);
  std::printf("held %d\n", times);
  return 0;
}

int Hidden(int count, wchar_t** program) {
  PROCESS_INFORMATION child{};
  if (!Start(count, program, CREATE_NO_WINDOW, &child)) return 1;
  if (!PrintStatus(child, 20000)) (void)TerminateProcess(child.hProcess, 1);
  return 0;
}

int Attributes(const wchar_t* path) {
  const DWORD attributes = GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return 1;
  std::printf("0x%lX\n", attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  return 0;
}

int Access(const wchar_t* path) {
  DWORD size = 0;
  (void)GetFileSecurityW(path, DACL_SECURITY_INFORMATION, nullptr, 0, &size);
  std::string descriptor(size, '\0');
  wchar_t* text = nullptr;
  if (size == 0 ||
      !GetFileSecurityW(path, DACL_SECURITY_INFORMATION, descriptor.data(), size, &size) ||
      !ConvertSecurityDescriptorToStringSecurityDescriptorW(
          descriptor.data(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
    return 1;
  }
  std::printf("%ls\n", text);
  LocalFree(text);
  return 0;
}

int SetAttributes(const wchar_t* path, DWORD bits) {
  return SetFileAttributesW(path, bits != 0 ? bits : FILE_ATTRIBUTE_NORMAL) ? 0 : 1;
}

int Short(const wchar_t* path) {
  wchar_t buffer[32768];
  if (GetShortPathNameW(path, buffer, 32768) == 0) return 1;
  char bytes[4 * 32768];
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, buffer, -1, bytes, sizeof bytes, nullptr, nullptr);
  if (size == 0) return 1;
  std::printf("%s\n", bytes);
  return 0;
}

int Move(const wchar_t* from, const wchar_t* to) {
  if (MoveFileExW(from, to, 0)) return 0;
  std::printf("%lu\n", GetLastError());
  return 1;
}

}  // namespace

int wmain(int argc, wchar_t* argv[]) {
  if (argc == 4 && std::wcscmp(argv[1], L"hold") == 0) {
    return Hold(argv[2], static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10)));
  }
  if (argc >= 6 && std::wcscmp(argv[1], L"interrupt") == 0) {
    return Interrupt(argv[2], static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10)),
                     static_cast<DWORD>(std::wcstoul(argv[4], nullptr, 10)), argc - 5, argv + 5);
  }
  if (argc >= 5 && std::wcscmp(argv[1], L"scan") == 0) {
    return Scan(argv[2], static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10)), argc - 4,
                argv + 4);
  }
  if (argc >= 3 && std::wcscmp(argv[1], L"hidden") == 0) return Hidden(argc - 2, argv + 2);
  if (argc == 3 && std::wcscmp(argv[1], L"attributes") == 0) return Attributes(argv[2]);
  if (argc == 3 && std::wcscmp(argv[1], L"access") == 0) return Access(argv[2]);
  if (argc == 4 && std::wcscmp(argv[1], L"set-attributes") == 0) {
    return SetAttributes(argv[2], static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 16)));
  }
  if (argc == 3 && std::wcscmp(argv[1], L"short") == 0) return Short(argv[2]);
  if (argc == 4 && std::wcscmp(argv[1], L"move") == 0) return Move(argv[2], argv[3]);
  (void)std::fprintf(stderr,
                     "usage: windows_helper hold PATH MILLISECONDS\n"
                     "       windows_helper interrupt PATH BEFORE AFTER PROGRAM [ARGUMENT]...\n"
                     "       windows_helper scan PATH MILLISECONDS PROGRAM [ARGUMENT]...\n"
                     "       windows_helper hidden PROGRAM [ARGUMENT]...\n"
                     "       windows_helper attributes PATH\n"
                     "       windows_helper access PATH\n"
                     "       windows_helper set-attributes PATH BITS\n"
                     "       windows_helper move FROM TO\n"
                     "       windows_helper short PATH\n");
  return 2;
}

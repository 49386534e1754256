#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <atomic>

#include "prc/process.h"

namespace prc {
namespace {

std::atomic<int> hold_depth{0};
std::atomic<bool> ending{false};

// The status a process ended by such an event gets from Windows' own handling.
constexpr UINT kEndedByConsoleEvent = 0xC000013A;  // STATUS_CONTROL_C_EXIT

// Runs on a thread of its own when the console is interrupted, broken or closed, and ends
// the process with the status Windows gives, at once, or while the moves are made, after
// them: it waits, and the thread that makes them ends the process once they are done (see
// ~SignalsHeld). A logoff or shutdown event ends no process that is still running when it
// comes (a service's), so it changes nothing here.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
    return FALSE;
  }
  ending = true;
  while (hold_depth > 0) Sleep(1);
  ExitProcess(kEndedByConsoleEvent);
}

}  // namespace

// Files are held by handle, never by a C stream number, so a closed standard stream
// cannot hand its number to one, and there is no file-size limit signal. A console event
// before the moves ends the process at once: the file being written is open for writing
// on the main thread, and a file open for writing cannot be removed from the handler's.
void PrepareProcess() { (void)SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

// A write to a pipe whose reader has gone fails here; no signal ends the process.
void IgnoreBrokenPipe() {}

SignalsHeld::SignalsHeld() {
  ++hold_depth;
  // The process is being ended: do not start what must not be left half made, and wait
  // to be ended.
  if (ending && hold_depth == 1) {
    --hold_depth;
    Sleep(INFINITE);
  }
}

SignalsHeld::~SignalsHeld() {
  // An event came while the moves were made: the run ends now, before it reports them.
  if (--hold_depth == 0 && ending) ExitProcess(kEndedByConsoleEvent);
}

}  // namespace prc

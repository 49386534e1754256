#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <utility>

#include "prc/folder.h"
#include "prc/process.h"

namespace prc {
namespace {

// The status a process ended by such an event gets from Windows' own handling.
constexpr UINT kEndedByConsoleEvent = 0xC000013A;  // STATUS_CONTROL_C_EXIT

// All that the console handler reaches: the one place the process keeps it.
struct {
  std::atomic<bool> ending{false};  // a console event came: the process is to end
  // Signaled while no TemporaryGuard holds the events (see TemporaryGuard::Hold).
  HANDLE unheld = nullptr;
} state;

// Runs on a thread of its own when the console is interrupted, broken or closed, and ends
// the process with the status Windows gives: at once, or, while the moves are made, once
// the guard that holds them settles (see TemporaryGuard::Settle), which ends it itself. A
// logoff or shutdown event ends no process that is still running when it comes (a
// service's), so it changes nothing here.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
    return FALSE;
  }
  state.ending = true;
  (void)WaitForSingleObject(state.unheld, INFINITE);
  ExitProcess(kEndedByConsoleEvent);
}

}  // namespace

// Files are held by handle, never by a C stream number, so a closed standard stream
// cannot hand its number to one, and there is no file-size limit signal. A console event
// before the moves ends the process at once: the file being written is open for writing
// on the main thread, and a file open for writing cannot be removed from the handler's.
void PrepareProcess() {
  state.unheld = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  if (state.unheld != nullptr) (void)SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

// A write to a pipe whose reader has gone fails here; no signal ends the process.
void IgnoreBrokenPipe() {}

TemporaryGuard::TemporaryGuard(TemporaryGuard&& other) noexcept
    : armed_(std::exchange(other.armed_, false)), held_(std::exchange(other.held_, false)) {}

// Were it held, the handler that waits ends the process once it is let go.
TemporaryGuard::~TemporaryGuard() {
  if (std::exchange(held_, false) && state.unheld != nullptr) (void)SetEvent(state.unheld);
}

std::unique_ptr<WritableFile> TemporaryGuard::Create(Folder& folder, const std::string& name) {
  armed_ = false;  // a console event removes nothing: see PrepareProcess
  return folder.CreateNew(name);
}

void TemporaryGuard::Hold() {
  if (held_ || state.unheld == nullptr) return;
  held_ = true;
  (void)ResetEvent(state.unheld);
  // The process is being ended: do not start what must not be left half made; the
  // handler ends it.
  if (state.ending) {
    (void)SetEvent(state.unheld);
    Sleep(INFINITE);
  }
}

void TemporaryGuard::Settle() {
  if (!std::exchange(held_, false)) return;
  // An event came while the moves were made: the run ends now, before it reports them.
  if (state.ending) ExitProcess(kEndedByConsoleEvent);
  (void)SetEvent(state.unheld);
}

}  // namespace prc

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "prc/process.h"

namespace prc {
namespace {

int hold_depth = 0;

}  // namespace

// Files are held by handle, never by a C stream number, so a closed standard stream
// cannot hand its number to one, and there is no file-size limit signal. A console
// interrupt ends the process at once: it is not caught, since its handler would run on
// a thread of its own, beside the one writing the file.
void PrepareProcess() {}

// Ctrl+C is ignored while held, rather than delayed: the console has no pending state.
SignalsHeld::SignalsHeld() {
  if (hold_depth++ == 0) (void)SetConsoleCtrlHandler(nullptr, TRUE);
}

SignalsHeld::~SignalsHeld() {
  if (--hold_depth == 0) (void)SetConsoleCtrlHandler(nullptr, FALSE);
}

}  // namespace prc

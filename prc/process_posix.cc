#include "prc/process_posix.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <utility>

#include "prc/folder.h"
#include "prc/process.h"

namespace prc {
namespace {

// The signals whose default action does not end the process: those it ignores (a
// child's end, urgent data, a window's new size, a status request where the system has
// one), those that stop or continue it, and SIGKILL, which no process can catch.
constexpr int kNotEnding[] = {
    SIGCHLD, SIGURG, SIGWINCH, SIGCONT, SIGSTOP, SIGTSTP, SIGTTIN, SIGTTOU, SIGKILL,
#ifdef SIGINFO
    SIGINFO,
#endif
};

// One past the highest signal number, the real-time signals included.
#ifdef _NSIG
constexpr int kSignalLimit = _NSIG;
#else
constexpr int kSignalLimit = NSIG;
#endif

// All that the signal handler reaches, and the blocking of the signals: the one place the
// process keeps them.
struct GuardState {
  // The file a terminating signal removes while `armed`: `name` in the directory open as
  // `directory`. Written only with the signals blocked, so the handler never sees it half
  // made.
  volatile std::sig_atomic_t armed;
  int directory;
  char name[512];  // file systems take at most 255 bytes for one name
  bool creating;   // a TemporaryGuard is creating its file (see RemoveOnSignal)
  // How many blocks (SignalsBlocked, TemporaryGuard::Hold) are on, and the signal mask
  // from before the first.
  int blocks;
  sigset_t before_block;
};
GuardState state;

void Block() {
  if (state.blocks++ > 0) return;
  // Every signal that can be blocked: none falls between the steps, whatever its action.
  sigset_t all;
  sigfillset(&all);
  sigprocmask(SIG_BLOCK, &all, &state.before_block);
}

void Unblock() {
  if (--state.blocks == 0) sigprocmask(SIG_SETMASK, &state.before_block, nullptr);
}

// Every signal whose default action ends the process, the real-time ones included, but
// SIGXFSZ, which PrepareProcess ignores: each number the system has, less those listed
// above, so that no signal a system adds is left out. The numbers the C library keeps
// for itself (those just below SIGRTMIN, on Linux) are refused by sigaddset, and so
// left out.
sigset_t TerminatingSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig = 1; sig < kSignalLimit; ++sig) {
    const bool ends =
        std::find(std::begin(kNotEnding), std::end(kNotEnding), sig) == std::end(kNotEnding);
    if (ends && sig != SIGXFSZ) (void)sigaddset(&set, sig);
  }
  return set;
}

extern "C" void OnTerminatingSignal(int sig) {
  const int saved_errno = errno;
  if (state.armed != 0) unlinkat(state.directory, state.name, 0);
  // The signal is blocked while its handler runs: raised again with the default action,
  // it ends the process as soon as the handler returns.
  (void)std::signal(sig, SIG_DFL);
  (void)std::raise(sig);
  errno = saved_errno;
}

}  // namespace

void PrepareProcess() {
  // open() takes the lowest free file descriptor, so each closed stream is filled in order.
  // Opened the other way round, the null device holds the number without serving the
  // stream: a read of a closed input and a write to a closed output still fail.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    const int null = open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
    if (null >= 0 && null != fd) close(null);
  }
  (void)std::signal(SIGXFSZ, SIG_IGN);
  // A fault of the process's own (SIGSEGV, SIGBUS...) comes to the handler as well: the
  // file it was writing goes, and the signal, raised again, still ends it with its status.
  struct sigaction action {};
  action.sa_handler = OnTerminatingSignal;
  sigfillset(&action.sa_mask);
  // Each handler is set in the call that reads the action before it, and an ignored
  // signal's action is put back: one call a signal, not two. Held meanwhile, no signal
  // finds the handler where it was ignored, and putting the ignoring back discards it.
  const sigset_t terminating = TerminatingSet();
  sigset_t before_block;
  sigprocmask(SIG_BLOCK, &action.sa_mask, &before_block);
  for (int sig = 1; sig < kSignalLimit; ++sig) {
    struct sigaction before {};
    if (sigismember(&terminating, sig) == 1 && sigaction(sig, &action, &before) == 0 &&
        before.sa_handler == SIG_IGN) {
      sigaction(sig, &before, nullptr);
    }
  }
  sigprocmask(SIG_SETMASK, &before_block, nullptr);
}

void IgnoreBrokenPipe() { (void)std::signal(SIGPIPE, SIG_IGN); }

SignalsBlocked::SignalsBlocked() { Block(); }

SignalsBlocked::~SignalsBlocked() { Unblock(); }

void RemoveOnSignal(int directory, const char* name) {
  const std::size_t size = std::strlen(name) + 1;
  if (!state.creating || size > sizeof state.name) return;
  std::memcpy(state.name, name, size);
  state.directory = directory;
  state.armed = 1;
}

TemporaryGuard::TemporaryGuard(TemporaryGuard&& other) noexcept
    : armed_(std::exchange(other.armed_, false)), held_(std::exchange(other.held_, false)) {}

TemporaryGuard::~TemporaryGuard() { Settle(); }

std::unique_ptr<WritableFile> TemporaryGuard::Create(Folder& folder, const std::string& name) {
  if (state.armed != 0 || name.size() >= sizeof state.name) return nullptr;
  // From the creation to the arming, so that no signal leaves the file behind unarmed.
  const SignalsBlocked blocked;
  state.creating = true;
  std::unique_ptr<WritableFile> file = folder.CreateNew(name);
  state.creating = false;
  // Where it failed after the creation, the folder removed the file or left it to the run
  // that took it.
  if (!file) state.armed = 0;
  armed_ = state.armed != 0;
  return file;
}

void TemporaryGuard::Hold() {
  if (!std::exchange(held_, true)) Block();
}

void TemporaryGuard::Settle() {
  if (std::exchange(armed_, false)) state.armed = 0;
  if (std::exchange(held_, false)) Unblock();
}

}  // namespace prc

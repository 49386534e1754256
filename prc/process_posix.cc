#include "prc/process_posix.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <iterator>

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

// The registry of process_posix.h.
struct SignalCleanupEntry {
  volatile std::sig_atomic_t armed;
  int directory;
  char name[kMaxSignalCleanupName];
};
SignalCleanupEntry cleanup_entries[kSignalCleanupEntries];

int hold_depth = 0;
sigset_t mask_before_hold;

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
  for (const SignalCleanupEntry& entry : cleanup_entries) {
    if (entry.armed != 0) unlinkat(entry.directory, entry.name, 0);
  }
  // The signal is blocked while its handler runs: raised again with the default action,
  // it ends the process as soon as the handler returns.
  (void)std::signal(sig, SIG_DFL);
  (void)std::raise(sig);
  errno = saved_errno;
}

// Frees an entry armed by ArmSignalCleanup.
void ReleaseSignalCleanup(int entry) {
  const SignalsHeld held;
  cleanup_entries[entry].armed = 0;
}

SignalCleanupEntry* FreeSignalCleanupEntry() {
  for (SignalCleanupEntry& entry : cleanup_entries) {
    if (entry.armed == 0) return &entry;
  }
  return nullptr;
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
  const sigset_t terminating = TerminatingSet();
  for (int sig = 1; sig < kSignalLimit; ++sig) {
    struct sigaction before {};
    if (sigismember(&terminating, sig) != 1 || sigaction(sig, nullptr, &before) != 0 ||
        before.sa_handler == SIG_IGN) {
      continue;
    }
    sigaction(sig, &action, nullptr);
  }
}

void IgnoreBrokenPipe() { (void)std::signal(SIGPIPE, SIG_IGN); }

SignalsHeld::SignalsHeld() {
  if (hold_depth++ > 0) return;
  // Every signal that can be blocked: none falls between the steps, whatever its action.
  sigset_t set;
  sigfillset(&set);
  sigprocmask(SIG_BLOCK, &set, &mask_before_hold);
}

SignalsHeld::~SignalsHeld() {
  if (--hold_depth > 0) return;
  sigprocmask(SIG_SETMASK, &mask_before_hold, nullptr);
}

bool CanArmSignalCleanup(const char* name) {
  return std::strlen(name) < kMaxSignalCleanupName && FreeSignalCleanupEntry() != nullptr;
}

SignalCleanup ArmSignalCleanup(int directory, const char* name) {
  SignalCleanupEntry* entry = FreeSignalCleanupEntry();
  const std::size_t size = std::strlen(name) + 1;
  if (entry == nullptr || size > sizeof entry->name) return {};
  std::memcpy(entry->name, name, size);
  entry->directory = directory;
  entry->armed = 1;
  return {ReleaseSignalCleanup, static_cast<int>(entry - cleanup_entries)};
}

}  // namespace prc

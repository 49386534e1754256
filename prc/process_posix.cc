#include "prc/process_posix.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "prc/process.h"

namespace prc {
namespace {

// The signals whose default action ends the process, but for the one no process can
// catch (SIGKILL) and those that report a fault of the process itself.
constexpr int kTerminating[] = {SIGHUP,  SIGINT,  SIGQUIT, SIGPIPE, SIGALRM,
                                SIGTERM, SIGUSR1, SIGUSR2, SIGXCPU};

// The registry of process_posix.h.
struct SignalCleanupEntry {
  volatile std::sig_atomic_t armed;
  int directory;
  char name[kMaxSignalCleanupName];
};
SignalCleanupEntry cleanup_entries[kSignalCleanupEntries];

int hold_depth = 0;
sigset_t mask_before_hold;

sigset_t TerminatingSet() {
  sigset_t set;
  sigemptyset(&set);
  for (const int sig : kTerminating) sigaddset(&set, sig);
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
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    const int null = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (null >= 0 && null != fd) close(null);
  }
  (void)std::signal(SIGXFSZ, SIG_IGN);
  struct sigaction action {};
  action.sa_handler = OnTerminatingSignal;
  action.sa_mask = TerminatingSet();
  for (const int sig : kTerminating) {
    struct sigaction before {};
    if (sigaction(sig, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    sigaction(sig, &action, nullptr);
  }
}

SignalsHeld::SignalsHeld() {
  if (hold_depth++ > 0) return;
  const sigset_t set = TerminatingSet();
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

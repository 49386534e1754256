// Process-wide guards for a run that rewrites files. The implementation is chosen by the
// build, one file per platform.
#ifndef PRC_PROCESS_H_
#define PRC_PROCESS_H_

#include <utility>

namespace prc {

// Readies the process for a run; call it first, once. Afterwards:
//  - the standard streams are open: any that was closed is opened on the null device,
//    so no file the run opens can take a stream's number and receive its output. It is
//    opened for the other direction (a closed input for writing, a closed output for
//    reading), so that reading a closed input or writing to a closed output still fails;
//  - a file-size limit makes a write fail with an error instead of ending the process;
//  - a signal whose default action ends the process (every one that can be caught but
//    the file-size limit's: interrupt, terminate, hang-up, a broken pipe, the timers,
//    the user and real-time signals, and the faults too, also when another process sends
//    them) first removes every file whose SignalCleanup is armed (see
//    Folder::CreateNew), then ends the process by the same signal, so its status says
//    so. A signal the process was started ignoring stays ignored.
// Where the platform has no such streams, limits or signals, the part does what it can;
// process_windows.cc says what.
void PrepareProcess();

// From now on a write to a pipe whose reader has gone fails instead of ending the
// process. Called once the files are as the run will report, so that a reader that has
// gone, as after `unprc FILE | head -c1`, no longer changes the status that says so.
void IgnoreBrokenPipe();

// While one of these lives, every signal that can be blocked is (added to the process's
// signal mask); a signal that arrives meanwhile stays pending and is delivered when the
// last one goes. Used so that no signal falls between two steps that must be made
// together, such as the two moves of a swap. May nest.
class SignalsHeld {
 public:
  SignalsHeld();
  ~SignalsHeld();
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;
};

// Removal, by a signal that ends the process, of a file this process created and has not
// yet moved into place, kept or removed: armed by Folder::CreateNew, which returns it with
// the file, and disarmed by Disarm() or when it is destroyed. The platform's registry of
// armed files (process_posix.h) holds a few at once; a folder that cannot arm one more
// refuses to create the file. Where the platform removes nothing on a signal, it is never
// armed.
//
// Removing or moving the file and disarming its cleanup go together, with the signals
// blocked (see SignalsHeld): disarmed first, a signal between the two would leave the
// file behind; disarmed after, it could remove a file another process has since put
// there.
class SignalCleanup {
 public:
  // Frees the registry entry `entry`, so that a signal no longer removes its file.
  using Release = void (*)(int entry);

  SignalCleanup() = default;  // removes nothing
  SignalCleanup(Release release, int entry) : release_(release), entry_(entry) {}
  SignalCleanup(SignalCleanup&& other) noexcept
      : release_(std::exchange(other.release_, nullptr)), entry_(other.entry_) {}
  SignalCleanup& operator=(SignalCleanup&& other) noexcept {
    if (this != &other) {
      Disarm();
      release_ = std::exchange(other.release_, nullptr);
      entry_ = other.entry_;
    }
    return *this;
  }
  SignalCleanup(const SignalCleanup&) = delete;
  SignalCleanup& operator=(const SignalCleanup&) = delete;
  ~SignalCleanup() { Disarm(); }

  // From now on a signal leaves the file alone: it was moved, removed, or is to stay.
  void Disarm() {
    if (release_ != nullptr) std::exchange(release_, nullptr)(entry_);
  }

  [[nodiscard]] bool armed() const { return release_ != nullptr; }

 private:
  Release release_ = nullptr;
  int entry_ = 0;
};

}  // namespace prc

#endif  // PRC_PROCESS_H_

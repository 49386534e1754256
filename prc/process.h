// Process-wide guards for a run that rewrites files. The implementation is chosen by the
// build, one file per platform.
#ifndef PRC_PROCESS_H_
#define PRC_PROCESS_H_

#include <memory>
#include <string>

namespace prc {

class Folder;
class WritableFile;

// Readies the process for a run; call it first, once. Afterwards:
//  - the standard streams are open: any that was closed is opened on the null device,
//    so no file the run opens can take a stream's number and receive its output. It is
//    opened for the other direction (a closed input for writing, a closed output for
//    reading), so that reading a closed input or writing to a closed output still fails;
//  - a file-size limit makes a write fail with an error instead of ending the process;
//  - a signal whose default action ends the process (every one that can be caught but
//    the file-size limit's: interrupt, terminate, hang-up, a broken pipe, the timers,
//    the user and real-time signals, and the faults too, also when another process sends
//    them) first removes the file a TemporaryGuard has armed, then ends the process by
//    the same signal, so its status says so. A signal the process was started ignoring
//    stays ignored.
// Where the platform has no such streams, limits or signals, the part does what it can;
// process_windows.cc says what.
void PrepareProcess();

// From now on a write to a pipe whose reader has gone fails instead of ending the
// process. Called once the files are as the run will report, so that a reader that has
// gone, as after `unprc FILE | head -c1`, no longer changes the status that says so.
void IgnoreBrokenPipe();

// What a signal that ends the process does to the one file a run creates beside the file
// it works on, from its creation until it is moved in, removed or kept: until then the
// signal removes it first; while it is moved or removed, the signal waits. One guard at a
// time has a file armed. Where the platform removes nothing on a signal, none is armed.
class TemporaryGuard {
 public:
  TemporaryGuard() = default;
  TemporaryGuard(TemporaryGuard&& other) noexcept;
  TemporaryGuard& operator=(TemporaryGuard&&) = delete;
  TemporaryGuard(const TemporaryGuard&) = delete;
  TemporaryGuard& operator=(const TemporaryGuard&) = delete;
  // Disarms, and ends a hold as Settle does, but leaves ending the process to the
  // platform's handler.
  ~TemporaryGuard();

  // Creates `name` in `folder` (Folder::CreateNew) and arms its removal, with no signal
  // between the two. Null when the creation fails, or when another guard has a file armed
  // or the name is longer than the platform's handler keeps (creating nothing then).
  [[nodiscard]] std::unique_ptr<WritableFile> Create(Folder& folder, const std::string& name);

  // Holds every signal (on Windows, a console event) from now until Settle: it waits, so
  // that no signal falls between a move or removal of the file and Settle, nor between two
  // moves that must be made together. Where the process is being ended already, the run
  // waits to be ended instead.
  void Hold();

  // The file has been moved in, removed, or is to stay: a signal leaves it alone from now
  // on. Then the signals held since Hold come; on Windows, where a console event came
  // meanwhile, the process ends here, before the run reports anything.
  void Settle();

 private:
  bool armed_ = false;
  bool held_ = false;
};

}  // namespace prc

#endif  // PRC_PROCESS_H_

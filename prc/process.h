// Process-wide guards for a run that rewrites files. The implementation is chosen by the
// build, one file per platform.
#ifndef PRC_PROCESS_H_
#define PRC_PROCESS_H_

namespace prc {

// Readies the process for a run; call it first, once. Afterwards:
//  - the standard streams are open: any that was closed is opened on the null device,
//    so no file the run opens can take a stream's number and receive its output;
//  - a file-size limit makes a write fail with an error instead of ending the process;
//  - a signal that would end the process (interrupt, terminate, hang-up, quit, a broken
//    pipe, an alarm, the user signals, a CPU-time limit) first removes the file a folder
//    created and has not yet moved or removed (see Folder::CreateNew), then ends the
//    process by the same signal, so its status says so. A signal the process was started
//    ignoring stays ignored.
// Where the platform has no such streams, limits or signals, the part does what it can;
// process_windows.cc says what.
void PrepareProcess();

// While one of these lives, the signals that end a run are held back; they are delivered
// when the last one goes. Used so that no signal falls between two steps that must be
// made together, such as the two moves of a swap. May nest.
class SignalsHeld {
 public:
  SignalsHeld();
  ~SignalsHeld();
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;
};

}  // namespace prc

#endif  // PRC_PROCESS_H_

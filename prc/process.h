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

// Whether a window shows this process's console and closes as soon as the process ends,
// before anyone could read what it wrote: the process is the only one attached to its
// console, and standard input is that console, as when a file dropped on the program starts
// it in a window of its own. Never where there are no console windows, and never when the
// program was started from a console window (whose shell is attached too), by a script, or
// with its input redirected.
[[nodiscard]] bool WindowClosesAtExit();

// The same decision on its inputs: the number of processes attached to this process's
// console (0 for none, or when it cannot be had), and whether standard input is that
// console.
[[nodiscard]] constexpr bool WindowClosesAtExit(unsigned processes_on_console,
                                                bool input_is_console) {
  return processes_on_console == 1 && input_is_console;
}

// Waits until Enter is pressed on the console, or its input ends or fails. Keys pressed
// before the call do not count. Returns at once where there are no console windows.
void WaitForEnter();

}  // namespace prc

#endif  // PRC_PROCESS_H_

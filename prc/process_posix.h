// What the POSIX folder needs of process_posix.cc. Internal to the library's POSIX files.
#ifndef PRC_PROCESS_POSIX_H_
#define PRC_PROCESS_POSIX_H_

namespace prc {

// While one of these lives, every signal that can be blocked is; one that arrives
// meanwhile is delivered when the last one goes. May nest. For steps that must be made
// together.
class SignalsBlocked {
 public:
  SignalsBlocked();
  ~SignalsBlocked();
  SignalsBlocked(const SignalsBlocked&) = delete;
  SignalsBlocked& operator=(const SignalsBlocked&) = delete;
};

// Called by the folder, with the signals blocked, right after it created `name` in the
// directory open as `directory`: while a TemporaryGuard creates that file, a terminating
// signal removes it by that directory and name until the guard settles, which it does
// before the directory is closed. Does nothing otherwise.
void RemoveOnSignal(int directory, const char* name);

}  // namespace prc

#endif  // PRC_PROCESS_POSIX_H_

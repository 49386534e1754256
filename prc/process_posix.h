// The POSIX side of process.h that the folder needs: which file a terminating signal
// removes. Internal to the library's POSIX files.
#ifndef PRC_PROCESS_POSIX_H_
#define PRC_PROCESS_POSIX_H_

#include <cstddef>

namespace prc {

// The longest name RemoveOnSignal takes, terminating zero included. File systems take
// at most 255 bytes for one name.
inline constexpr std::size_t kMaxSignalCleanupName = 512;

// From now on, a terminating signal removes `name` in the folder open as `folder`. False,
// arming nothing, when `name` is too long. Call with signals held.
[[nodiscard]] bool RemoveOnSignal(int folder, const char* name);

// Disarms RemoveOnSignal when it is armed for a name in `folder`. Call with signals held.
void KeepOnSignal(int folder);

// Whether RemoveOnSignal is armed for `name` in `folder`.
[[nodiscard]] bool RemovesOnSignal(int folder, const char* name);

}  // namespace prc

#endif  // PRC_PROCESS_POSIX_H_

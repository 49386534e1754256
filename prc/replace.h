// Replacing a file with its restored form while keeping the original as a backup.
#ifndef PRC_REPLACE_H_
#define PRC_REPLACE_H_

#include <cstdint>
#include <string>

#include "prc/container.h"

namespace prc {

// The two files made beside the input: the input's name with a suffix appended after
// any extension it has.
struct SideNames {
  std::string temp;    // the restored payload before it is moved in: input + ".$$$"
  std::string backup;  // the original, kept: input + ".BAK"
};

SideNames SideNamesFor(const std::string& input);

enum class SwapResult {
  kSwapped,
  kCannotWrite,   // the payload could not be stored, or a move failed
  kBackupExists,  // the backup name was taken, so the input was left in place
};

// Writes the `payload_length` bytes that follow the header in `buffer` to names.temp,
// with the permission bits `permissions`, and syncs them to disk; releases `buffer`;
// then moves `input` to names.backup and names.temp to `input`, neither move ever
// replacing anything. `payload_length` must be at most kMaxPayloadLength.
//
// The input's bytes are never rewritten, only moved, and are never lost:
//  - kSwapped: `input` holds the payload, names.backup the original; no temp file.
//  - kCannotWrite before the moves: `input` is untouched and no backup is made; a temp
//    file this call wrote is removed, and anything else at names.temp is left as it was.
//  - kBackupExists: `input` and the existing backup are untouched; names.temp holds the
//    payload.
//  - kCannotWrite from a move: the original is back under `input` (or, if even that move
//    fails, under names.backup); names.temp holds the payload.
[[nodiscard]] SwapResult WriteAndSwap(WorkBuffer buffer, std::uint32_t payload_length,
                                      std::uint32_t permissions, const std::string& input,
                                      const SideNames& names);

}  // namespace prc

#endif  // PRC_REPLACE_H_

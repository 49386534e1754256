// The process's standard input and output as raw byte streams, for a program that reads a
// container from a pipe and writes its payload on. The implementation is chosen by the
// build, one file per platform.
#ifndef PRC_STANDARD_STREAMS_H_
#define PRC_STANDARD_STREAMS_H_

#include <cstddef>
#include <cstdint>
#include <memory>

#include "prc/folder.h"

namespace prc {

// Standard input, whatever it is (a pipe, a terminal, a file), as a file to read from. It
// is left open when the object goes, for later reads. Its info() tells only whether it is
// a regular file. It is never locked: LockExclusive() refuses. Never null.
[[nodiscard]] std::unique_ptr<ReadableFile> StandardInput();

enum class WriteResult {
  kWritten,
  kReaderGone,  // the reader of a pipe closed its end: nothing more can go out
  kFailed,      // any other failure: a full disk, a file-size limit, a device's error
};

// Writes all `size` bytes to standard output exactly as they are, with no line-end
// translation, retrying interrupted writes. Where the system signals a write to a pipe
// without a reader (SIGPIPE), the signal's action, not this, decides what follows; a
// process that ignores it gets kReaderGone.
[[nodiscard]] WriteResult WriteStandardOutput(const std::uint8_t* data, std::size_t size);

}  // namespace prc

#endif  // PRC_STANDARD_STREAMS_H_

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "prc/io_windows.h"
#include "prc/standard_streams.h"

namespace prc {
namespace {

// The handles are used as they are, never through the C runtime's text streams, so no
// byte is translated.
class StandardInputFile final : public ReadableFile {
 public:
  StandardInputFile() : handle_(GetStdHandle(STD_INPUT_HANDLE)) {
    info_.regular = GetFileType(handle_) == FILE_TYPE_DISK;
  }

  [[nodiscard]] const FileInfo& info() const override { return info_; }

  // Standard input belongs to whoever started the process; it is only read.
  bool LockExclusive() override { return false; }

  bool ReadFull(std::uint8_t* data, std::size_t size, std::size_t* count) override {
    // A pipe whose writer has closed its end has simply ended.
    return ReadAll(handle_, data, size, count) || GetLastError() == ERROR_BROKEN_PIPE;
  }

 private:
  HANDLE handle_;
  FileInfo info_;
};

}  // namespace

std::unique_ptr<ReadableFile> StandardInput() { return std::make_unique<StandardInputFile>(); }

WriteResult WriteStandardOutput(const std::uint8_t* data, std::size_t size) {
  if (WriteAll(GetStdHandle(STD_OUTPUT_HANDLE), data, size)) return WriteResult::kWritten;
  const DWORD error = GetLastError();
  // A pipe whose reader has closed its end, or is closing it; the system names it in any
  // of these ways, depending on the pipe and on when the reader went.
  const bool gone =
      error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED;
  return gone ? WriteResult::kReaderGone : WriteResult::kFailed;
}

}  // namespace prc

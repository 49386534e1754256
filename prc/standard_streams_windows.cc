#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>

#include "prc/standard_streams.h"

namespace prc {
namespace {

// Each ReadFile or WriteFile call moves at most this much, well inside a DWORD.
constexpr std::size_t kChunk = std::size_t{1} << 30;

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
    std::size_t done = 0;
    while (done < size) {
      DWORD n = 0;
      const auto ask = static_cast<DWORD>(std::min(size - done, kChunk));
      if (!ReadFile(handle_, data + done, ask, &n, nullptr)) {
        // A pipe whose writer has closed its end has simply ended.
        if (GetLastError() == ERROR_BROKEN_PIPE) break;
        return false;
      }
      if (n == 0) break;
      done += n;
    }
    *count = done;
    return true;
  }

 private:
  HANDLE handle_;
  FileInfo info_;
};

}  // namespace

std::unique_ptr<ReadableFile> StandardInput() { return std::make_unique<StandardInputFile>(); }

WriteResult WriteStandardOutput(const std::uint8_t* data, std::size_t size) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  std::size_t done = 0;
  while (done < size) {
    DWORD n = 0;
    const auto ask = static_cast<DWORD>(std::min(size - done, kChunk));
    if (!WriteFile(out, data + done, ask, &n, nullptr)) {
      const DWORD error = GetLastError();
      // A pipe whose reader has closed its end, or is closing it; the system names it in
      // any of these ways, depending on the pipe and on when the reader went.
      const bool gone =
          error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED;
      return gone ? WriteResult::kReaderGone : WriteResult::kFailed;
    }
    if (n == 0) return WriteResult::kFailed;
    done += n;
  }
  return WriteResult::kWritten;
}

}  // namespace prc

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "prc/standard_streams.h"

namespace prc {
namespace {

class StandardInputFile final : public ReadableFile {
 public:
  StandardInputFile() {
    struct stat st {};
    info_.regular = fstat(STDIN_FILENO, &st) == 0 && S_ISREG(st.st_mode);
  }

  [[nodiscard]] const FileInfo& info() const override { return info_; }

  // Standard input belongs to whoever started the process; it is only read.
  bool LockExclusive() override { return false; }

  bool ReadFull(std::uint8_t* data, std::size_t size, std::size_t* count) override {
    std::size_t done = 0;
    while (done < size) {
      const ssize_t n = read(STDIN_FILENO, data + done, size - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return false;
      if (n == 0) break;
      done += static_cast<std::size_t>(n);
    }
    *count = done;
    return true;
  }

 private:
  FileInfo info_;
};

}  // namespace

std::unique_ptr<ReadableFile> StandardInput() { return std::make_unique<StandardInputFile>(); }

WriteResult WriteStandardOutput(const std::uint8_t* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = write(STDOUT_FILENO, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EPIPE) return WriteResult::kReaderGone;
    if (n <= 0) return WriteResult::kFailed;
    done += static_cast<std::size_t>(n);
  }
  return WriteResult::kWritten;
}

}  // namespace prc

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "prc/io_posix.h"
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
    return ReadAll(STDIN_FILENO, data, size, count);
  }

 private:
  FileInfo info_;
};

}  // namespace

std::unique_ptr<ReadableFile> StandardInput() { return std::make_unique<StandardInputFile>(); }

WriteResult WriteStandardOutput(const std::uint8_t* data, std::size_t size) {
  if (WriteAll(STDOUT_FILENO, data, size)) return WriteResult::kWritten;
  return errno == EPIPE ? WriteResult::kReaderGone : WriteResult::kFailed;
}

}  // namespace prc

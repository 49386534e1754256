// prccat [FILE]...: writes each FILE's restored payload to standard output, in order,
// exactly the bytes unprc would leave in FILE, and changes nothing. With no FILE, or for a
// FILE that is "-", reads standard input. prccat --help, prccat --version: say what it is.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "cli/messages.h"
#include "prc/container.h"
#include "prc/folder.h"
#include "prc/process.h"
#include "prc/standard_streams.h"
#include "prc/work_buffer.h"

namespace {

enum class Outcome { kWritten, kCannotOpen, kAbnormal, kCannotWrite, kReaderGone };

// The one work buffer, used for every input in turn. Each input must find it as a fresh
// buffer would be, zero past the bytes read: the zero fill is what a short file's payload
// ends with, and what an odd count's last pair takes in. So the buffer keeps track of how
// far the inputs before may have written, and only that much is cleared again.
class Restorer {
 public:
  explicit Restorer(prc::WorkBuffer buffer) : buffer_(std::move(buffer)) {}

  // Reads at most a work buffer's worth of `file`, descrambles it, and writes the payload
  // to standard output.
  Outcome Restore(prc::ReadableFile& file) {
    std::uint8_t* const buffer = buffer_.get();
    std::size_t byte_count = 0;
    if (!file.ReadFull(buffer, prc::kWorkBufferSize, &byte_count)) {
      written_ = prc::kWorkBufferSize;  // a failed read may have filled any of it
      return Outcome::kCannotOpen;
    }
    if (byte_count < written_) std::memset(buffer + byte_count, 0, written_ - byte_count);
    // The descrambling writes the byte after an odd count; the size is even, so it fits.
    written_ = std::min(byte_count + byte_count % 2, prc::kWorkBufferSize);

    if (byte_count < prc::kHeaderSize) return Outcome::kAbnormal;
    const prc::Header header = prc::ReadHeader(buffer);
    if (!prc::PayloadFits(header)) return Outcome::kAbnormal;
    prc::Descramble(buffer, byte_count, header.key);
    switch (prc::WriteStandardOutput(buffer + prc::kHeaderSize, header.payload_length)) {
      case prc::WriteResult::kWritten:
        return Outcome::kWritten;
      case prc::WriteResult::kReaderGone:
        return Outcome::kReaderGone;
      case prc::WriteResult::kFailed:
        return Outcome::kCannotWrite;
    }
    return Outcome::kCannotWrite;
  }

 private:
  prc::WorkBuffer buffer_;
  std::size_t written_ = 0;  // the bytes at the buffer's start that may not be zero
};

// Restores the file at `path`, or standard input for "-". The file is opened for reading
// only; it is never locked, and a symbolic link is read through.
Outcome RestoreOne(const char* path, Restorer& restorer) {
  if (std::strcmp(path, "-") == 0) return restorer.Restore(*prc::StandardInput());
  std::string name;
  const std::unique_ptr<prc::Folder> folder = prc::OpenFolder(path, &name);
  if (!folder) return Outcome::kCannotOpen;
  const std::unique_ptr<prc::ReadableFile> file = folder->OpenForReading(name);
  if (!file) return Outcome::kCannotOpen;
  return restorer.Restore(*file);
}

}  // namespace

int main(int argc, char* argv[]) {
  using cli::Message;
  prc::PrepareProcess();
  // With no name as invoked to show, the tool gives its own.
  const bool named = argc > 0 && argv[0] != nullptr && argv[0][0] != '\0';
  const char* const program = named ? argv[0] : "prccat";
  // The two options, each only as the one argument; any other argument is a file name.
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    cli::SayPrccatHelp(program);
    return cli::kExitOk;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    cli::SayVersion("prccat");
    return cli::kExitOk;
  }

  prc::WorkBuffer buffer = prc::NewWorkBuffer();
  if (!buffer) {
    cli::Say(Message::kNoMemory);
    return cli::kExitFailure;
  }
  Restorer restorer(std::move(buffer));
  const char* const standard_input[] = {"-"};
  const char* const* const first = argc > 1 ? argv + 1 : standard_input;
  const char* const* const last = argc > 1 ? argv + argc : standard_input + 1;

  // A file that cannot be read is reported and skipped; output that cannot be written
  // ends the run, as nothing after it could arrive either.
  int status = cli::kExitOk;
  for (const char* const* path = first; path != last; ++path) {
    switch (RestoreOne(*path, restorer)) {
      case Outcome::kWritten:
        break;
      case Outcome::kCannotOpen:
        cli::Say(Message::kCannotOpen);
        status = cli::kExitFailure;
        break;
      case Outcome::kAbnormal:
        cli::Say(Message::kAbnormal);
        status = cli::kExitFailure;
        break;
      case Outcome::kCannotWrite:
        cli::Say(Message::kCannotWrite);
        return cli::kExitFailure;
      case Outcome::kReaderGone:
        // The reader has all it wanted, as after `prccat FILE | head`: nothing to report.
        return cli::kExitFailure;
    }
  }
  return status;
}

// prccat [FILE]...: writes each FILE's restored payload to standard output, in order,
// exactly the bytes unprc would leave in FILE, and changes nothing. With no FILE, or for a
// FILE that is "-", reads standard input. prccat --help, prccat --version: say what it is.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cli/entry.h"
#include "cli/messages.h"
#include "cli/program.h"
#include "prc/container.h"
#include "prc/folder.h"
#include "prc/standard_streams.h"

namespace {

enum class Outcome { kWritten, kCannotOpen, kAbnormal, kCannotWrite, kReaderGone };

// The payload goes through this buffer a piece at a time, as cat copies, rather than
// through a whole work buffer: a run then touches as little memory as cat does. Its size
// is even, so every piece but a file's last holds whole words.
constexpr std::size_t kPieceSize = std::size_t{1} << 17;
static_assert(kPieceSize % 2 == 0, "pieces of whole words");
alignas(64) std::uint8_t piece[kPieceSize];

Outcome Written(prc::WriteResult result) {
  switch (result) {
    case prc::WriteResult::kWritten:
      return Outcome::kWritten;
    case prc::WriteResult::kReaderGone:
      return Outcome::kReaderGone;
    case prc::WriteResult::kFailed:
      return Outcome::kCannotWrite;
  }
  return Outcome::kCannotWrite;
}

// Writes the payload of `file` to standard output, exactly as unprc restores it in its
// zero-filled work buffer: of the file's first kWorkBufferSize bytes, those after the
// header are descrambled in pairs (an odd count's last pair taking in a zero byte), and
// the payload is the header's length of them, zeros past the bytes read. Of a regular
// file, up to that work buffer's worth is read, as unprc reads it. Of anything else (a
// pipe), only the header's length after the header, the bytes the payload is made of: the
// next container in the stream is left for the next "-". A read error after the first
// piece leaves the pieces before it written.
Outcome Restore(prc::ReadableFile& file) {
  std::uint8_t head[prc::kHeaderSize];
  std::size_t count = 0;
  if (!file.ReadFull(head, prc::kHeaderSize, &count)) return Outcome::kCannotOpen;
  if (count < prc::kHeaderSize) return Outcome::kAbnormal;
  const prc::Header header = prc::ReadHeader(head);
  if (!prc::PayloadFits(header)) return Outcome::kAbnormal;

  std::size_t unwritten = header.payload_length;
  std::size_t unread = file.info().regular ? prc::kMaxPayloadLength : header.payload_length;
  std::uint16_t previous = header.key;
  while (unwritten > 0) {
    count = 0;
    if (unread > 0) {
      // Even but for a stream's odd payload length: only the end makes a piece odd.
      const std::size_t ask = std::min(kPieceSize, unread);
      if (!file.ReadFull(piece, ask, &count)) return Outcome::kCannotOpen;
      unread = count < ask ? 0 : unread - count;
    }
    // Past the file's end, the zero fill: in the odd count's last pair and after it.
    if (count < kPieceSize) std::memset(piece + count, 0, kPieceSize - count);
    previous = prc::DescrambleWords(piece, (count + 1) / 2, previous);
    const std::size_t size = std::min(unwritten, kPieceSize);
    const Outcome outcome = Written(prc::WriteStandardOutput(piece, size));
    if (outcome != Outcome::kWritten) return outcome;
    unwritten -= size;
  }
  return Outcome::kWritten;
}

// Restores the file at `path`, or standard input for "-". The file is opened for reading
// only, by its path (its folder need not be listed); it is never locked, and a symbolic
// link is read through.
Outcome RestoreOne(const std::string& path) {
  if (path == "-") return Restore(*prc::StandardInput());
  const std::unique_ptr<prc::ReadableFile> file = prc::OpenToRead(path);
  if (!file) return Outcome::kCannotOpen;
  return Restore(*file);
}

}  // namespace

int cli::Run(const Arguments& arguments) {
  using cli::Message;
  // Any other argument is a file name.
  if (AnswersStandardOption(arguments, "prccat", ProgramText::kPrccatHelp)) return kExitOk;
  const std::vector<std::string>& operands = arguments.operands;

  const std::vector<std::string> standard_input = {"-"};
  const std::vector<std::string>& paths = operands.empty() ? standard_input : operands;

  // A file that cannot be read is reported and skipped; output that cannot be written
  // ends the run, as nothing after it could arrive either.
  int status = cli::kExitOk;
  for (const std::string& path : paths) {
    switch (RestoreOne(path)) {
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

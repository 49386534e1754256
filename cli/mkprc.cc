// mkprc PLAIN OUT: writes OUT as a scrambled container that holds the bytes of PLAIN, so
// that unprc OUT restores them. Never replaces anything: OUT must not exist.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cli/entry.h"
#include "cli/messages.h"
#include "cli/program.h"
#include "prc/container.h"
#include "prc/folder.h"
#include "prc/replace.h"
#include "prc/work_buffer.h"

namespace {

enum class ReadResult { kRead, kCannotRead, kTooLong };

// Reads all of `file` into `payload`, which has room for kMaxPayloadLength bytes, and
// sets `*length` to the number read. A file with a byte past that room is too long:
// unprc could not restore it.
ReadResult ReadPlain(prc::ReadableFile& file, std::uint8_t* payload, std::size_t* length) {
  if (!file.ReadFull(payload, prc::kMaxPayloadLength, length)) return ReadResult::kCannotRead;
  if (*length < prc::kMaxPayloadLength) return ReadResult::kRead;
  std::uint8_t extra = 0;
  std::size_t more = 0;
  if (!file.ReadFull(&extra, 1, &more)) return ReadResult::kCannotRead;
  return more == 0 ? ReadResult::kRead : ReadResult::kTooLong;
}

}  // namespace

int cli::Run(const Arguments& arguments) {
  using cli::Message;
  if (AnswersStandardOption(arguments, "mkprc", ProgramText::kMkprcHelp)) return kExitOk;
  const std::vector<std::string>& operands = arguments.operands;
  if (operands.size() != 2) {
    cli::Say(ProgramText::kMkprcUsage, InvokedName(arguments, "mkprc"));
    return cli::kExitFailure;
  }

  // Anything at all at OUT, even a dangling link, stops the run before any work. The
  // no-replace move below still decides should something take the name meanwhile.
  std::string out;
  const std::unique_ptr<prc::Folder> folder = prc::OpenFolder(operands[1], &out);
  if (!folder || out.empty()) return Fail(Message::kCannotWrite);
  prc::FileInfo held;
  if (folder->InspectNoFollow(out, &held)) return Fail(Message::kOutputExists);

  prc::WorkBuffer buffer = prc::NewWorkBuffer();
  if (!buffer) return Fail(Message::kNoMemory);
  std::size_t length = 0;
  prc::FileInfo plain_info;
  {
    // PLAIN is closed once read, before anything is written. Only read, as cp reads it: by
    // its path, its folder neither opened nor listed, and a link followed.
    const std::unique_ptr<prc::ReadableFile> plain = prc::OpenToRead(operands[0]);
    if (!plain) return Fail(Message::kCannotOpen);
    plain_info = plain->info();
    switch (ReadPlain(*plain, buffer.get() + prc::kHeaderSize, &length)) {
      case ReadResult::kRead:
        break;
      case ReadResult::kCannotRead:
        return Fail(Message::kCannotOpen);
      case ReadResult::kTooLong:
        return Fail(Message::kAbnormal);
    }
  }

  // An odd length's last pair takes in the zero byte after the payload, inside the
  // buffer, and that byte is not written.
  const std::uint16_t key = prc::WriteHeader(static_cast<std::uint32_t>(length), buffer.get());
  const std::size_t size = prc::kHeaderSize + length;
  prc::Scramble(buffer.get(), size, key);

  // Written beside OUT, synced, then moved in: OUT is never seen half written.
  switch (prc::CreateDurably(*folder, out, plain_info, buffer.get(), size)) {
    case prc::CreateResult::kCreated:
      return cli::kExitOk;
    case prc::CreateResult::kExists:
      return Fail(Message::kOutputExists);
    case prc::CreateResult::kCannotWrite:
      return Fail(Message::kCannotWrite);
  }
  return Fail(Message::kCannotWrite);
}

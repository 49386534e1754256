// unprc FILE: restores a scrambled file in place, keeping the original as FILE.BAK.
// unprc --help, unprc --version: say what it is.
#include <cstring>
#include <string>
#include <utility>

#include "cli/messages.h"
#include "prc/container.h"
#include "prc/file.h"
#include "prc/replace.h"

namespace {

int Fail(cli::Message message) {
  cli::Say(message);
  return cli::kExitFailure;
}

}  // namespace

int main(int argc, char* argv[]) {
  using cli::Message;
  // With no name as invoked to show, the tool gives its own.
  const bool named = argc > 0 && argv[0] != nullptr && argv[0][0] != '\0';
  const char* program = named ? argv[0] : "unprc";
  if (argc != 2) {
    cli::SayUsage(program);
    return cli::kExitFailure;
  }
  // The two options. Any other argument, "-h" too, is a file name; ./--help names that file.
  if (std::strcmp(argv[1], "--help") == 0) {
    cli::SayHelp(program);
    return cli::kExitOk;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    cli::SayVersion("unprc");
    return cli::kExitOk;
  }
  const std::string input = argv[1];

  prc::File file;
  if (!file.OpenForReading(input)) return Fail(Message::kCannotOpen);
  const prc::SideNames names = prc::SideNamesFor(input);
  prc::WorkBuffer buffer = prc::NewWorkBuffer();
  if (!buffer) return Fail(Message::kNoMemory);
  std::size_t byte_count = 0;
  if (!file.ReadFull(buffer.get(), prc::kWorkBufferSize, &byte_count)) {
    return Fail(Message::kCannotOpen);
  }
  file.Close();  // Only read from: a failed close loses nothing.

  if (byte_count < prc::kHeaderSize) return Fail(Message::kAbnormal);
  const prc::Header header = prc::ReadHeader(buffer.get());
  if (!prc::PayloadFits(header)) return Fail(Message::kAbnormal);

  cli::SayKey(header.key);
  prc::Descramble(buffer.get(), byte_count, header.key);

  switch (prc::WriteAndSwap(std::move(buffer), header.payload_length, file.permissions(), input,
                            names)) {
    case prc::SwapResult::kSwapped:
      break;
    case prc::SwapResult::kCannotWrite:
      return Fail(Message::kCannotWrite);
    case prc::SwapResult::kBackupExists:
      return Fail(Message::kBackupExists);
  }
  cli::Say(Message::kOk);
  return cli::kExitOk;
}

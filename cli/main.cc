// unprc FILE: restores a scrambled file in place, keeping the original as FILE.BAK.
// unprc --help, unprc --version: say what it is.
#include <memory>
#include <string>
#include <utility>

#include "cli/entry.h"
#include "cli/messages.h"
#include "prc/container.h"
#include "prc/folder.h"
#include "prc/replace.h"
#include "prc/work_buffer.h"

namespace {

int Fail(const cli::Message& message) {
  cli::Say(message);
  return cli::kExitFailure;
}

}  // namespace

int cli::Run(const Arguments& arguments) {
  using cli::Message;
  // With no name as invoked to show, the tool gives its own.
  const char* program = arguments.program.empty() ? "unprc" : arguments.program.c_str();
  if (arguments.operands.size() != 1) {
    cli::Say(ProgramText::kUnprcUsage, program);
    return cli::kExitFailure;
  }
  const std::string& path = arguments.operands[0];
  // The two options. Any other argument, "-h" too, is a file name; ./--help names that file.
  if (path == "--help") {
    cli::Say(ProgramText::kUnprcHelp, program);
    return cli::kExitOk;
  }
  if (path == "--version") {
    cli::Say(ProgramText::kVersion, "unprc");
    return cli::kExitOk;
  }

  // The folder is opened once; every name below is looked up in it.
  std::string name;
  const std::unique_ptr<prc::Folder> folder = prc::OpenFolder(path, &name);
  if (!folder) return Fail(Message::kCannotOpen);
  // A symbolic link is not the file to replace: the restored file would land beside it,
  // with access that only the link's target had.
  const std::unique_ptr<prc::ReadableFile> file = folder->OpenForReading(name, prc::Links::kRefuse);
  if (!file) return Fail(Message::kCannotOpen);
  // One run at a time: the lock is held until the swap is done. A name that no longer
  // leads to the locked file was swapped by another run in the meantime.
  prc::FileInfo now;
  if (!file->LockExclusive() || !folder->Inspect(name, &now) || !now.SameFileAs(file->info())) {
    return Fail(Message::kCannotOpen);
  }
  const prc::SideNames names = prc::SideNamesFor(name);
  prc::WorkBuffer buffer = prc::NewWorkBuffer();
  if (!buffer) return Fail(Message::kNoMemory);
  std::size_t byte_count = 0;
  if (!file->ReadFull(buffer.get(), prc::kWorkBufferSize, &byte_count)) {
    return Fail(Message::kCannotOpen);
  }

  if (byte_count < prc::kHeaderSize) return Fail(Message::kAbnormal);
  const prc::Header header = prc::ReadHeader(buffer.get());
  if (!prc::PayloadFits(header)) return Fail(Message::kAbnormal);

  cli::SayKey(header.key);
  prc::Descramble(buffer.get(), byte_count, header.key);

  switch (prc::WriteAndSwap(*folder, name, file->info(), names, std::move(buffer),
                            header.payload_length)) {
    case prc::SwapResult::kSwapped:
      break;
    case prc::SwapResult::kBackupExists:
      return Fail(Message::kBackupExists);
    case prc::SwapResult::kCannotWrite:
    case prc::SwapResult::kMoveFailed:
    case prc::SwapResult::kRollbackFailed:
    case prc::SwapResult::kNotDurable:
      return Fail(Message::kCannotWrite);
  }
  cli::Say(Message::kOk);
  return cli::kExitOk;
}

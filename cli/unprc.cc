// unprc FILE: restores a scrambled file in place, keeping the original as FILE.BAK.
// unprc --help, unprc --version: say what it is.
#include <cstddef>
#include <string>
#include <utility>

#include "cli/entry.h"
#include "cli/messages.h"
#include "cli/program.h"
#include "prc/container.h"
#include "prc/folder.h"
#include "prc/process.h"
#include "prc/replace.h"
#include "prc/work_buffer.h"

int cli::Run(const Arguments& arguments) {
  using cli::Message;
  // Any other argument, "-h" too, is a file name; ./--help names that file.
  if (AnswersStandardOption(arguments, "unprc", ProgramText::kUnprcHelp)) return kExitOk;
  if (arguments.operands.size() != 1) {
    cli::Say(ProgramText::kUnprcUsage, InvokedName(arguments, "unprc"));
    return cli::kExitFailure;
  }
  const std::string& path = arguments.operands[0];

  // Locked until the swap is done: one run at a time.
  const prc::LockedInput input = prc::OpenLockedInput(path);
  if (input.error != prc::InputError::kNone) return Fail(Message::kCannotOpen);
  const prc::SideNames names = prc::SideNamesFor(input.name);
  prc::WorkBuffer buffer = prc::NewWorkBuffer();
  if (!buffer) return Fail(Message::kNoMemory);
  std::size_t byte_count = 0;
  if (!input.file->ReadFull(buffer.get(), prc::kWorkBufferSize, &byte_count)) {
    return Fail(Message::kCannotOpen);
  }

  if (byte_count < prc::kHeaderSize) return Fail(Message::kAbnormal);
  const prc::Header header = prc::ReadHeader(buffer.get());
  if (!prc::PayloadFits(header)) return Fail(Message::kAbnormal);

  cli::SayKey(header.key);
  prc::Descramble(buffer.get(), byte_count, header.key);

  prc::Temporary temp = prc::WriteTemporary(*input.folder, names.temp, input.file->info(),
                                            buffer.get() + prc::kHeaderSize, header.payload_length);
  buffer.reset();  // The payload is on disk or lost; the moves need no memory.
  const prc::SwapResult swapped =
      prc::SwapWithBackup(*input.folder, input.name, *input.file, names, std::move(temp));
  // The files are now as `swapped` says, and the status says it: a reader of the output
  // that has gone (unprc FILE | head -c1) no longer ends the run by a broken pipe.
  prc::IgnoreBrokenPipe();
  switch (swapped) {
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

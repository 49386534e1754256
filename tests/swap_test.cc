// Every outcome of unprc's swap and of mkprc's create, on a folder in memory whose calls
// fail as each row scripts: the result, and which name holds which bytes afterwards.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <utility>

#include "prc/replace.h"
#include "tests/fake_folder.h"

namespace prc {
namespace {

// What a name holds: nothing, or one of these files.
enum Holds { kNothing, kOriginal, kPayload, kOld, kOwnLeftover, kForeign };

const char* const kBytes[] = {
    "",
    "scrambled original",
    "plain payload",
    "an earlier backup",
    "the caller's own leftover",
    "another user's file",
};

// The original's access list and origin mark, which each file made in its place carries.
FileInfo Carried() {
  FileInfo carried;
  carried.access_list = ", the original's access list";
  carried.origin_mark = ", [ZoneTransfer] ZoneId=3";
  return carried;
}

// Puts `holds` at `name`; another user's file is not the caller's.
void Lay(test::FakeFolder& folder, const std::string& name, Holds holds) {
  if (holds != kNothing) {
    folder.Put(name, kBytes[holds], holds != kForeign, holds == kOriginal ? Carried() : FileInfo{});
  }
}

// Makes each call in `calls` fail, or, written "CALL swaps NAME", puts another user's file
// at NAME just before it: they are separated by ", ".
void FailEach(test::FakeFolder& folder, const std::string& calls) {
  std::istringstream in(calls);
  for (std::string call; std::getline(in, call, ',');) {
    call = call.substr(call.find_first_not_of(' '));
    const auto swaps = call.find(" swaps ");
    if (swaps == std::string::npos) folder.Fail(call);
    if (swaps != std::string::npos)
      folder.SwapBefore(call.substr(0, swaps), call.substr(swaps + 7), kBytes[kForeign]);
  }
}

// The names that hold something, with their bytes.
std::map<std::string, std::string> Expected(
    std::initializer_list<std::pair<std::string, Holds>> names) {
  std::map<std::string, std::string> contents;
  for (const auto& [name, holds] : names) {
    const bool carries = holds == kOriginal || holds == kPayload;
    const FileInfo carried = carries ? Carried() : FileInfo{};
    if (holds != kNothing)
      contents[name] = kBytes[holds] + carried.access_list + carried.origin_mark;
  }
  return contents;
}

const std::uint8_t* PayloadBytes() {
  return reinterpret_cast<const std::uint8_t*>(kBytes[kPayload]);
}
std::size_t PayloadSize() { return std::strlen(kBytes[kPayload]); }

// A signal that ends the run needs a process to end: those rows are proven end to end
// and by tests/faults.py.
TEST(ReplaceOutcomes, EachRowLeavesItsFiles) {
  const std::string file = "A.PRC";
  const std::string temp = "A.PRC.$$$";
  const std::string backup = "A.PRC.BAK";
  struct SwapRow {
    const char* outcome;
    const char* failing;  // the calls made to fail
    Holds backup_before, temp_before;
    InputError input;
    SwapResult result;  // when the input was locked
    Holds file_after, backup_after, temp_after;
  };
  const InputError kIn = InputError::kNone;
  // clang-format off
  const SwapRow swap_rows[] = {
      {"OK.", "", kNothing, kNothing, kIn, SwapResult::kSwapped, kPayload, kOriginal, kNothing},
      {"OK., the caller's own leftover replaced", "", kNothing, kOwnLeftover,
       kIn, SwapResult::kSwapped, kPayload, kOriginal, kNothing},
      {"refused: cannot open", "open A.PRC", kOld, kNothing,
       InputError::kCannotOpen, {}, kOriginal, kOld, kNothing},
      {"refused: another run holds the lock", "lock A.PRC", kNothing, kOwnLeftover,
       InputError::kLocked, {}, kOriginal, kNothing, kOwnLeftover},
      {"refused: the name no longer leads to the file locked", "inspect A.PRC", kNothing, kNothing,
       InputError::kNameMoved, {}, kOriginal, kNothing, kNothing},
      {"cannot create the temp", "create A.PRC.$$$", kOld, kNothing,
       kIn, SwapResult::kCannotWrite, kOriginal, kOld, kNothing},
      {"the temp name held by another user's file", "", kNothing, kForeign,
       kIn, SwapResult::kCannotWrite, kOriginal, kNothing, kForeign},
      {"cannot give the temp the input's access", "access A.PRC.$$$", kNothing, kNothing,
       kIn, SwapResult::kCannotWrite, kOriginal, kNothing, kNothing},
      {"cannot write the temp", "write A.PRC.$$$", kNothing, kNothing,
       kIn, SwapResult::kCannotWrite, kOriginal, kNothing, kNothing},
      {"cannot sync the temp", "sync A.PRC.$$$", kNothing, kNothing,
       kIn, SwapResult::kCannotWrite, kOriginal, kNothing, kNothing},
      {"cannot close the temp", "close A.PRC.$$$", kNothing, kNothing,
       kIn, SwapResult::kCannotWrite, kOriginal, kNothing, kNothing},
      {"backup exists", "", kOld, kNothing,
       kIn, SwapResult::kBackupExists, kOriginal, kOld, kPayload},
      {"first move fails", "move A.PRC A.PRC.BAK", kNothing, kNothing,
       kIn, SwapResult::kMoveFailed, kOriginal, kNothing, kNothing},
      {"the input's name no longer leads to it at the first move", "inspect A.PRC #2",
       kNothing, kNothing, kIn, SwapResult::kMoveFailed, kOriginal, kNothing, kNothing},
      {"the input swapped for another file in the first move", "move A.PRC A.PRC.BAK swaps A.PRC",
       kNothing, kNothing, kIn, SwapResult::kMoveFailed, kForeign, kNothing, kNothing},
      {"the temp swapped for another file in the second move",
       "move A.PRC.$$$ A.PRC swaps A.PRC.$$$", kNothing, kNothing, kIn, SwapResult::kMoveFailed,
       kOriginal, kNothing, kForeign},
      {"second move fails, the original moved back", "move A.PRC.$$$ A.PRC", kNothing, kNothing,
       kIn, SwapResult::kMoveFailed, kOriginal, kNothing, kPayload},
      {"second move and the move back fail", "move A.PRC.$$$ A.PRC, move A.PRC.BAK A.PRC",
       kNothing, kNothing, kIn, SwapResult::kRollbackFailed, kNothing, kOriginal, kPayload},
      {"folder not synced", "sync", kNothing, kNothing,
       kIn, SwapResult::kNotDurable, kPayload, kOriginal, kNothing},
  };
  // clang-format on
  for (const SwapRow& row : swap_rows) {
    SCOPED_TRACE(row.outcome);
    auto owned = std::make_unique<test::FakeFolder>();
    test::FakeFolder& folder = *owned;
    Lay(folder, file, kOriginal);
    Lay(folder, backup, row.backup_before);
    Lay(folder, temp, row.temp_before);
    FailEach(folder, row.failing);
    const LockedInput input = LockInput(std::move(owned), file);
    EXPECT_EQ(input.error, row.input);
    if (input.error == InputError::kNone) {
      Temporary made =
          WriteTemporary(*input.folder, temp, input.file->info(), PayloadBytes(), PayloadSize());
      EXPECT_EQ(SwapWithBackup(*input.folder, input.name, *input.file, SideNamesFor(file),
                               std::move(made)),
                row.result);
    }
    EXPECT_EQ(
        folder.Contents(),
        Expected({{file, row.file_after}, {backup, row.backup_after}, {temp, row.temp_after}}));
  }

  const std::string out = "OUT";
  const std::string out_temp = "OUT.$$$";
  struct CreateRow {
    const char* outcome;
    const char* failing;
    Holds out_before;
    CreateResult result;
    Holds out_after;
  };
  // clang-format off
  const CreateRow create_rows[] = {
      {"created", "", kNothing, CreateResult::kCreated, kPayload},
      {"the name taken by the time of the move", "", kOld, CreateResult::kExists, kOld},
      {"cannot create the temp", "create OUT.$$$", kNothing, CreateResult::kCannotWrite, kNothing},
      {"cannot write the temp", "write OUT.$$$", kNothing, CreateResult::kCannotWrite, kNothing},
      {"the move fails", "move OUT.$$$ OUT", kNothing, CreateResult::kCannotWrite, kNothing},
      {"folder not synced", "sync", kNothing, CreateResult::kCannotWrite, kNothing},
  };
  // clang-format on
  for (const CreateRow& row : create_rows) {
    SCOPED_TRACE(row.outcome);
    test::FakeFolder folder;
    Lay(folder, out, row.out_before);
    FailEach(folder, row.failing);
    EXPECT_EQ(CreateDurably(folder, out, Carried(), PayloadBytes(), PayloadSize()), row.result);
    // No temporary file is ever left.
    EXPECT_EQ(folder.Contents(), Expected({{out, row.out_after}, {out_temp, kNothing}}));
  }
}

}  // namespace
}  // namespace prc

// A file a live run made is never taken for a leftover by another run, on every platform,
// also once it is written and closed and waits for its move; the run itself may remove it.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>

#include "prc/folder.h"

namespace prc {
namespace {

TEST(LeftoverTest, ALiveRunsFileIsNoLeftoverUntilItGoes) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                    ("prc-leftover-" + std::to_string(std::random_device{}()));
  ASSERT_TRUE(std::filesystem::create_directory(dir));
  const std::string path = (dir / "A.PRC.$$$").u8string();

  std::string name;
  std::unique_ptr<Folder> live = OpenFolder(path, &name);
  ASSERT_TRUE(live);
  std::unique_ptr<WritableFile> made = live->CreateNew(name);
  ASSERT_TRUE(made);
  const std::uint8_t payload[] = {'p', 'a', 'y'};
  ASSERT_TRUE(made->WriteFull(payload, sizeof payload));
  ASSERT_TRUE(made->Sync());
  ASSERT_TRUE(made->Close());

  // Another run, with the folder opened on its own.
  std::unique_ptr<Folder> other = OpenFolder(path, &name);
  ASSERT_TRUE(other);
  FileInfo held;
  ASSERT_TRUE(other->InspectNoFollow(name, &held));
  EXPECT_FALSE(other->RemoveLeftover(name, held)) << "removed a live run's file";
  FileInfo still;
  EXPECT_TRUE(other->InspectNoFollow(name, &still) && still.SameFileAs(held));

  // Once the run that made it has gone, it is a leftover like any other.
  made.reset();
  EXPECT_TRUE(other->RemoveLeftover(name, held));
  EXPECT_FALSE(other->InspectNoFollow(name, &still));

  // A run removes a file it made while it still holds it, as when a later step fails; the
  // name is gone once the file is.
  made = live->CreateNew(name);
  ASSERT_TRUE(made);
  EXPECT_TRUE(live->Remove(name));
  made.reset();
  EXPECT_FALSE(other->InspectNoFollow(name, &still));
  // Held folders cannot be removed (Windows): let them go first.
  live.reset();
  other.reset();
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace prc

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "prc/folder.h"
#include "prc/names_posix.h"

namespace prc {
namespace {

namespace fs = std::filesystem;

class MoveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The process's own folder: the same cases may run at once in another process.
    dir_ = fs::temp_directory_path() /
           ("move_test_" + std::to_string(getpid()) + "_" +
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directory(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const char* name) const { return (dir_ / name).string(); }
  MoveResult Move(const char* from, const char* to) const {
    std::string name;
    const std::unique_ptr<Folder> folder = OpenFolder(Path(from), &name);
    EXPECT_EQ(name, from);
    return folder ? folder->MoveNoReplace(from, to, nullptr) : MoveResult::kFailed;
  }
  void Write(const char* name, const std::string& text) const {
    std::ofstream(Path(name), std::ios::binary) << text;
  }
  std::string Read(const char* name) const {
    std::ifstream in(Path(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  fs::path dir_;
};

TEST_F(MoveTest, MovesToAFreeName) {
  Write("from", "payload");
  EXPECT_EQ(Move("from", "to"), MoveResult::kMoved);
  EXPECT_FALSE(fs::exists(Path("from")));
  EXPECT_EQ(Read("to"), "payload");
}

TEST_F(MoveTest, NeverReplacesWhateverHoldsTheName) {
  struct Row {
    const char* what;
    std::function<void(const fs::path&)> make;
  };
  const Row rows[] = {
      {"file", [](const fs::path& p) { std::ofstream(p) << "old"; }},
      {"empty directory", [](const fs::path& p) { fs::create_directory(p); }},
      {"dangling symbolic link", [](const fs::path& p) { fs::create_symlink("nowhere", p); }},
  };
  for (const Row& row : rows) {
    Write("from", "payload");
    row.make(Path("to"));
    const fs::file_status before = fs::symlink_status(Path("to"));
    EXPECT_EQ(Move("from", "to"), MoveResult::kDestinationExists) << row.what;
    EXPECT_EQ(Read("from"), "payload") << row.what;
    EXPECT_EQ(fs::symlink_status(Path("to")).type(), before.type()) << row.what;
    fs::remove_all(Path("to"));
  }
}

TEST_F(MoveTest, MovesASymbolicLinkItselfNeverItsTarget) {
  Write("target", "payload");
  fs::create_symlink("target", Path("from"));
  EXPECT_EQ(Move("from", "to"), MoveResult::kMoved);
  EXPECT_TRUE(fs::is_symlink(Path("to")));
  EXPECT_EQ(fs::read_symlink(Path("to")), "target");
  EXPECT_FALSE(fs::exists(fs::symlink_status(Path("from"))));
  EXPECT_EQ(Read("target"), "payload");
}

TEST_F(MoveTest, MissingSourceFails) {
  EXPECT_EQ(Move("absent", "to"), MoveResult::kFailed);
  EXPECT_FALSE(fs::exists(fs::symlink_status(Path("to"))));
}

TEST(SplitPathTest, FolderAndName) {
  struct Row {
    const char* path;
    const char* folder;
    const char* name;
  };
  const Row rows[] = {
      {"A.PRC", ".", "A.PRC"},
      {"d/A.PRC", "d", "A.PRC"},
      {"/A.PRC", "/", "A.PRC"},
      {"/d/e/A.PRC", "/d/e", "A.PRC"},
      {"d/", "d", ""},
      {"./A.PRC", ".", "A.PRC"},
      {"d//A.PRC", "d/", "A.PRC"},
      {"a\\b.PRC", ".", "a\\b.PRC"},
  };
  for (const Row& row : rows) {
    const PathParts parts = SplitPath(row.path);
    EXPECT_EQ(parts.folder, row.folder) << row.path;
    EXPECT_EQ(parts.name, row.name) << row.path;
  }
}

}  // namespace
}  // namespace prc

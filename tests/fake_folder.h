// A folder held in memory, for testing the replacement protocol on every platform: names
// leading to files, each file an identity and its bytes. Any call can be scripted to fail.
#ifndef TESTS_FAKE_FOLDER_H_
#define TESTS_FAKE_FOLDER_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>

#include "prc/folder.h"

namespace prc::test {

class FakeFolder final : public Folder {
 public:
  // Puts a regular file with one name, `name`, holding `bytes` and `carried`'s access list
  // and origin mark; the caller's own unless `owned` is false.
  void Put(const std::string& name, const std::string& bytes, bool owned = true,
           const FileInfo& carried = {}) {
    auto node = std::make_shared<Node>();
    node->number = ++last_number_;
    node->bytes = bytes;
    node->owned = owned;
    node->access_list = carried.access_list;
    node->origin_mark = carried.origin_mark;
    names_[name] = std::move(node);
  }

  // Makes every call described as `call` fail, as the platform's call would: "open NAME",
  // "lock NAME", "inspect NAME", "create NAME", "access NAME", "write NAME", "sync NAME",
  // "close NAME", "remove NAME", "move FROM TO", and "sync" for the folder's own sync.
  // With " #N" appended, only the Nth such call fails.
  void Fail(const std::string& call) { failing_.insert(call); }

  // Just before the call described as `call` (as for Fail) is made, puts another user's
  // file holding `bytes` at `name`, as another process could; the file there goes.
  void SwapBefore(const std::string& call, const std::string& name, const std::string& bytes) {
    swaps_[call] = {name, bytes};
  }

  // Each name, and the bytes of the file it leads to, then its access list and origin mark.
  [[nodiscard]] std::map<std::string, std::string> Contents() const {
    std::map<std::string, std::string> contents;
    for (const auto& [name, node] : names_) {
      contents[name] = node->bytes + node->access_list + node->origin_mark;
    }
    return contents;
  }

  std::unique_ptr<ReadableFile> OpenForReading(const std::string& name) override {
    const auto found = names_.find(name);
    if (Fails("open " + name) || found == names_.end()) return nullptr;
    return std::make_unique<Readable>(this, name, found->second);
  }

  bool InspectNoFollow(const std::string& name, FileInfo* info) override {
    const auto found = names_.find(name);
    if (Fails("inspect " + name) || found == names_.end()) return false;
    *info = InfoOf(*found->second);
    return true;
  }

  std::unique_ptr<WritableFile> CreateNew(const std::string& name) override {
    if (Fails("create " + name) || names_.count(name) != 0) return nullptr;
    Put(name, "");
    return std::make_unique<Writable>(this, name, names_[name]);
  }

  bool RemoveLeftover(const std::string& name, const FileInfo& leftover) override {
    const auto found = names_.find(name);
    return found != names_.end() && !found->second->locked &&
           InfoOf(*found->second).SameFileAs(leftover) && Remove(name);
  }

  bool Remove(const std::string& name) override {
    if (Fails("remove " + name)) return false;
    return names_.erase(name) != 0;
  }

  MoveResult MoveNoReplace(const std::string& from, const std::string& to,
                           const OpenFile* /*file*/) override {
    const auto found = names_.find(from);
    if (Fails("move " + from + " " + to) || found == names_.end()) return MoveResult::kFailed;
    if (names_.count(to) != 0) return MoveResult::kDestinationExists;
    names_[to] = found->second;
    names_.erase(from);
    return MoveResult::kMoved;
  }

  bool Sync() override { return !Fails("sync"); }

 private:
  struct Node {
    std::uint64_t number = 0;
    std::string bytes;
    bool owned = true;
    bool locked = false;
    std::string access_list;
    std::string origin_mark;
  };

  // Holds a file's lock from its taking until destruction.
  struct Lock {
    std::shared_ptr<Node> node;
    bool held = false;
    ~Lock() {
      if (held) node->locked = false;
    }
    bool Take() {
      if (held || node->locked) return held;
      node->locked = held = true;
      return true;
    }
  };

  class Readable final : public ReadableFile {
   public:
    Readable(FakeFolder* folder, std::string name, std::shared_ptr<Node> node)
        : folder_(folder), name_(std::move(name)), info_(folder->InfoOf(*node)), lock_{node} {}
    [[nodiscard]] const FileInfo& info() const override { return info_; }
    bool LockExclusive() override { return !folder_->Fails("lock " + name_) && lock_.Take(); }
    bool ReadFull(std::uint8_t* data, std::size_t size, std::size_t* count) override {
      *count = std::min(size, lock_.node->bytes.size() - offset_);
      std::memcpy(data, lock_.node->bytes.data() + offset_, *count);
      offset_ += *count;
      return true;
    }

   private:
    FakeFolder* folder_;
    std::string name_;
    FileInfo info_;
    Lock lock_;
    std::size_t offset_ = 0;
  };

  class Writable final : public WritableFile {
   public:
    Writable(FakeFolder* folder, std::string name, std::shared_ptr<Node> node)
        : folder_(folder), name_(std::move(name)), info_(folder->InfoOf(*node)), lock_{node} {
      (void)lock_.Take();
    }
    [[nodiscard]] const FileInfo& info() const override { return info_; }
    bool TakeAccessOf(const FileInfo& like) override {
      if (Fails("access")) return false;
      lock_.node->access_list = like.access_list;
      lock_.node->origin_mark = like.origin_mark;
      return true;
    }
    bool WriteFull(const std::uint8_t* data, std::size_t size) override {
      if (Fails("write")) return false;
      lock_.node->bytes.append(reinterpret_cast<const char*>(data), size);
      return true;
    }
    bool Sync() override { return !Fails("sync"); }
    bool Close() override { return !Fails("close"); }

   private:
    // The file's calls are described by the name it was created as.
    bool Fails(const char* verb) { return folder_->Fails(std::string(verb) + " " + name_); }

    FakeFolder* folder_;
    std::string name_;
    FileInfo info_;
    Lock lock_;
  };

  bool Fails(const std::string& call) {
    if (const auto swap = swaps_.find(call); swap != swaps_.end()) {
      Put(swap->second.first, swap->second.second, false);
      swaps_.erase(swap);
    }
    const int nth = ++made_[call];
    return failing_.count(call) != 0 || failing_.count(call + " #" + std::to_string(nth)) != 0;
  }

  [[nodiscard]] FileInfo InfoOf(const Node& node) const {
    FileInfo info;
    info.number = node.number;
    info.regular = true;
    info.owned_by_caller = node.owned;
    info.access_list = node.access_list;
    info.origin_mark = node.origin_mark;
    info.links = static_cast<std::uint32_t>(
        std::count_if(names_.begin(), names_.end(),
                      [&](const auto& entry) { return entry.second.get() == &node; }));
    return info;
  }

  std::map<std::string, std::shared_ptr<Node>> names_;
  std::set<std::string> failing_;
  std::map<std::string, std::pair<std::string, std::string>> swaps_;  // call: name, bytes
  std::map<std::string, int> made_;  // how often each call was made
  std::uint64_t last_number_ = 0;
};

}  // namespace prc::test

#endif  // TESTS_FAKE_FOLDER_H_

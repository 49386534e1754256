// swap_floor FILE: the least a durable swap of FILE can do, the yardstick a run of unprc
// is measured against. It reads at most 1 MiB of FILE in one read into a 2 MiB huge page,
// creates FILE.$$$ exclusively, writes what followed the 4-byte header in one write, syncs
// and closes it, renames FILE to FILE.BAK and FILE.$$$ to FILE (neither rename replaces
// a file), and syncs the folder.
// Nothing else: no descrambling, lock, owner, access list, signal handling or message;
// status 1 on any failure, with the files as they fell. Plain C calls only, so that a
// static build starts as little as a C program does.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <climits>  // NAME_MAX
#include <cstdint>
#include <cstdio>  // renameat2
#include <cstring>

namespace {

constexpr std::size_t kPage = std::size_t{2} << 20;
constexpr std::size_t kReadSize = std::size_t{1} << 20;
constexpr std::size_t kHeader = 4;

// A 2 MiB block at an address aligned to its size, asked to be one huge page.
std::uint8_t* HugePage() {
  void* raw = mmap(nullptr, 2 * kPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  auto* bytes = static_cast<std::uint8_t*>(raw);
  const std::size_t head = (kPage - reinterpret_cast<std::uintptr_t>(raw) % kPage) % kPage;
  if (head != 0) munmap(bytes, head);
  munmap(bytes + head + kPage, kPage - head);
  madvise(bytes + head, kPage, MADV_HUGEPAGE);
  return bytes + head;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 2) return 2;
  // The folder and the name in it, as unprc splits them; the folder's part of the
  // argument is ended in place, so that nothing more than the two side names takes stack.
  char* path = argv[1];
  char* slash = std::strrchr(path, '/');
  const char* name = slash == nullptr ? path : slash + 1;
  const char* folder = slash == nullptr ? "." : slash == path ? "/" : path;
  if (slash != nullptr && slash != path) *slash = '\0';
  const std::size_t name_length = std::strlen(name);
  if (name_length > NAME_MAX) return 1;
  char temp[NAME_MAX + 5];
  char backup[NAME_MAX + 5];
  std::memcpy(temp, name, name_length);
  std::memcpy(temp + name_length, ".$$$", 5);
  std::memcpy(backup, name, name_length);
  std::memcpy(backup + name_length, ".BAK", 5);

  const int dir = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return 1;
  const int in = openat(dir, name, O_RDONLY | O_CLOEXEC);
  if (in < 0) return 1;
  std::uint8_t* page = HugePage();
  if (page == nullptr) return 1;
  const ssize_t got = read(in, page, kReadSize);
  if (got < static_cast<ssize_t>(kHeader)) return 1;
  const auto size = static_cast<std::size_t>(got) - kHeader;
  const int out = openat(dir, temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (out < 0 || write(out, page + kHeader, size) != static_cast<ssize_t>(size) ||
      fsync(out) != 0 || close(out) != 0) {
    return 1;
  }
  if (renameat2(dir, name, dir, backup, RENAME_NOREPLACE) != 0 ||
      renameat2(dir, temp, dir, name, RENAME_NOREPLACE) != 0 || fsync(dir) != 0) {
    return 1;
  }
  return 0;
}

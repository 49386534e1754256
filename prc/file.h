// Files held by descriptor, with the checks that keep the tool to regular files. The
// implementation is chosen by the build, one file per platform.
#ifndef PRC_FILE_H_
#define PRC_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace prc {

// One open file, closed when it goes out of scope. Not copyable.
class File {
 public:
  File() = default;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();

  // Opens an existing regular file for reading. Never blocks, not even on a FIFO, and
  // fails, leaving nothing open, when what it opened is not a regular file. The check is
  // made on the opened file, not the path, so a name swapped in between cannot slip by.
  [[nodiscard]] bool OpenForReading(const std::string& path);

  // Opens `path` for writing as an empty regular file: creates it, private to its owner,
  // or truncates a regular file that has no other name. Never follows a symbolic link and
  // never blocks. Fails, leaving whatever holds the name as it was, when the name is held
  // by anything else: a directory, a symbolic link, a device, a FIFO, a hard link.
  [[nodiscard]] bool CreateForWriting(const std::string& path);

  // Reads until `size` bytes have come or the file ends, setting `*count` to the number
  // that came. False on a read error.
  [[nodiscard]] bool ReadFull(std::uint8_t* data, std::size_t size, std::size_t* count);

  // Writes all `size` bytes. False on an error or a short write (full disk, file-size
  // limit).
  [[nodiscard]] bool WriteFull(const std::uint8_t* data, std::size_t size);

  // The permission bits the file had when OpenForReading opened it.
  [[nodiscard]] std::uint32_t permissions() const { return permissions_; }

  // Gives the file the permission bits `permissions`, as permissions() reports them.
  // Does nothing, successfully, where the platform keeps no such bits.
  [[nodiscard]] bool SetPermissions(std::uint32_t permissions);

  // Flushes the file's data and size to the storage device.
  [[nodiscard]] bool Sync();

  // Closes the file. False when the close reports an error, which for a written file
  // means its data may not have been stored. Closing a closed File does nothing.
  bool Close();

 private:
  std::intptr_t handle_ = -1;
  std::uint32_t permissions_ = 0;
};

// Removes the file named `path`. False when it could not.
bool RemoveFile(const std::string& path);

}  // namespace prc

#endif  // PRC_FILE_H_

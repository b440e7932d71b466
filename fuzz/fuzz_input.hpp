// Shared by the fuzz targets: the input bytes as a file on a unit, read through the record I/O
// layer exactly as the program reads its input.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <string>
#include <system_error>

#include "kud/io/units.hpp"

namespace fuzz {

// An anonymous in-memory file holding data, connected to unit; closed with the object. valid()
// is false when the system refuses (the input is then skipped, never reported as a finding).
class InputFile {
 public:
  InputFile(std::int32_t unit, std::span<const std::uint8_t> data) : fd_(make(unit, data)) {}
  ~InputFile() {
    kud::io::reset_units();
    if (fd_ >= 0) ::close(fd_);
  }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  [[nodiscard]] bool valid() const { return fd_ >= 0; }

 private:
  static int make(std::int32_t unit, std::span<const std::uint8_t> data);
  int fd_;
};

// data in an anonymous in-memory file, positioned at its start; -1 when the system refuses.
inline int memory_file(std::span<const std::uint8_t> data) {
  const int fd = ::memfd_create("fuzz-input", 0);
  if (fd < 0) return -1;
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n <= 0) {
      ::close(fd);
      return -1;
    }
    done += static_cast<std::size_t>(n);
  }
  ::lseek(fd, 0, SEEK_SET);
  return fd;
}

// A folder of the target's own under the temporary folder, removed (with its units) at exit.
class PrivateFolder {
 public:
  explicit PrivateFolder(const char* name) {
    std::string templ = (std::filesystem::temp_directory_path() / name).string() + "-XXXXXX";
    if (::mkdtemp(templ.data()) == nullptr) std::abort();
    path = templ;
  }
  ~PrivateFolder() {
    kud::io::reset_units();
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;
  std::filesystem::path path;
};

inline int InputFile::make(std::int32_t unit, std::span<const std::uint8_t> data) {
  const int fd = memory_file(data);
  if (fd < 0) return -1;
  if (kud::io::attach_unit(unit, fd, "fuzz-input", false) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Fails the run loudly: libFuzzer records the input.
[[noreturn]] inline void violated() { std::abort(); }

}  // namespace fuzz

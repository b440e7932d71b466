// Shared by the fuzz targets: the input bytes as a file on a unit, read through the record I/O
// layer exactly as the program reads its input.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <span>

#include "fileio/units.hpp"

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

inline int InputFile::make(std::int32_t unit, std::span<const std::uint8_t> data) {
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
  if (kud::io::attach_unit(unit, fd, "fuzz-input", false) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Fails the run loudly: libFuzzer records the input.
[[noreturn]] inline void violated() { std::abort(); }

}  // namespace fuzz

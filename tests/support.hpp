// Helpers shared by the test suites: a scratch folder, whole-file I/O and running the built
// program with given standard input.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace test {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  [[nodiscard]] const std::filesystem::path& path() const { return path_; }
  [[nodiscard]] std::string file(std::string_view name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

void write_file(const std::string& path, std::string_view bytes);
[[nodiscard]] std::string read_file(const std::string& path);

struct RunResult {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

// Runs the built zelp with args, feeding input on standard input (closed after it), in folder
// cwd (the current folder when empty).
[[nodiscard]] RunResult run_zelp(const std::vector<std::string>& args, std::string_view input,
                                 const std::string& cwd = {});

// The path of the built program.
[[nodiscard]] std::string zelp_binary();

}  // namespace test

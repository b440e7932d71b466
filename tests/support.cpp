#include "support.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace test {
namespace {
std::atomic<int> g_counter{0};
}

TempDir::TempDir() {
  const auto base = std::filesystem::temp_directory_path();
  for (;;) {
    auto candidate = base / ("zelp-test-" + std::to_string(::getpid()) + "-" +
                             std::to_string(g_counter.fetch_add(1)));
    std::error_code ec;
    if (std::filesystem::create_directory(candidate, ec)) {
      path_ = candidate;
      return;
    }
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void write_file(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string zelp_binary() { return ZELP_BINARY; }

RunResult run_zelp(const std::vector<std::string>& args, std::string_view input,
                   const std::string& cwd) {
  int in_pipe[2];
  int out_pipe[2];
  int err_pipe[2];
  if (::pipe(in_pipe) != 0 || ::pipe(out_pipe) != 0 || ::pipe(err_pipe) != 0)
    throw std::runtime_error("pipe");
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    ::dup2(in_pipe[0], 0);
    ::dup2(out_pipe[1], 1);
    ::dup2(err_pipe[1], 2);
    for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]})
      ::close(fd);
    if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) ::_exit(126);
    std::vector<char*> argv;
    std::string binary = zelp_binary();
    argv.push_back(binary.data());
    std::vector<std::string> copies(args);
    for (auto& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(binary.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(in_pipe[0]);
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  // A program that stops early closes its end; writes must not kill the test.
  std::signal(SIGPIPE, SIG_IGN);
  ::fcntl(in_pipe[1], F_SETFL, O_NONBLOCK);
  RunResult result;
  std::size_t sent = 0;
  bool in_open = true;
  if (input.empty()) {
    ::close(in_pipe[1]);
    in_open = false;
  }
  bool out_open = true;
  bool err_open = true;
  char chunk[65536];
  while (out_open || err_open) {
    pollfd fds[3] = {{out_pipe[0], static_cast<short>(out_open ? POLLIN : 0), 0},
                     {err_pipe[0], static_cast<short>(err_open ? POLLIN : 0), 0},
                     {in_pipe[1], static_cast<short>(in_open ? POLLOUT : 0), 0}};
    if (::poll(fds, in_open ? 3 : 2, -1) < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error("poll");
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].revents == 0) continue;
      const ssize_t n = ::read(fds[i].fd, chunk, sizeof chunk);
      if (n <= 0) {
        (i == 0 ? out_open : err_open) = false;
      } else {
        (i == 0 ? result.out : result.err).append(chunk, static_cast<std::size_t>(n));
      }
    }
    if (in_open && fds[2].revents != 0) {
      const ssize_t n = ::write(in_pipe[1], input.data() + sent, input.size() - sent);
      if (n > 0) sent += static_cast<std::size_t>(n);
      if (n < 0 && errno != EAGAIN) sent = input.size();
      if (sent == input.size()) {
        ::close(in_pipe[1]);
        in_open = false;
      }
    }
  }
  if (in_open) ::close(in_pipe[1]);
  ::close(out_pipe[0]);
  ::close(err_pipe[0]);
  int wstatus = 0;
  ::waitpid(pid, &wstatus, 0);
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  return result;
}

}  // namespace test

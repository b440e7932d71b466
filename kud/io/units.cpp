// Record I/O on unit numbers over POSIX descriptors.
//
// Each unit owns a read block, a write block and a copy of the start of the record last read
// (for the one-record step back). The blocks are allocated once, at the unit's first read or
// write, so the per-record path is a memchr, a memcpy or two and no system call. Console units
// write through at once: one write system call per record or prompt. Full write blocks go out on
// a background thread; a regular file's next read block comes in on another.
#include "kud/io/units.hpp"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "kud/io/block_worker.hpp"

namespace kud::io {
namespace {

constexpr std::size_t kBlock = kBlockSize;
constexpr std::size_t kReread = static_cast<std::size_t>(kRereadLimit);
constexpr std::int32_t kLastUnit = kConsoleErr;
constexpr std::size_t kUnitCount = static_cast<std::size_t>(kLastUnit) + 1;
constexpr std::size_t kProgramNameMax = 255;
static_assert(kBlock >= kReread, "a reread copy never exceeds a block");
static_assert(kConsoleAlias == 0 && kFirstFileUnit == 1 && kLastFileUnit < kConsoleErr);

enum class Mode : std::uint8_t { kIdle, kReading, kWriting };

// The read block starts on a cache line. A large new char[] lies 16 bytes past a page start,
// and there the kernel's copy into it runs at a quarter of its speed on some processors
// (0.12 s instead of 0.03 s for 200 MB read in 256 KiB blocks).
constexpr std::align_val_t kLineAlign{64};
struct LineAlignedFree {
  void operator()(char* p) const noexcept { ::operator delete(p, kLineAlign); }
};
using LineAlignedBlock = std::unique_ptr<char[], LineAlignedFree>;

bool ensure_aligned(LineAlignedBlock& storage, std::size_t size) {
  if (!storage) storage.reset(static_cast<char*>(::operator new(size, kLineAlign, std::nothrow)));
  return storage != nullptr;
}

struct Unit {
  int fd = -1;
  bool connected = false;
  bool owns_fd = false;        // opened here, so closed here
  bool write_through = false;  // one write system call per record
  bool seekable = false;
  Mode mode = Mode::kIdle;
  std::unique_ptr<char[]> name_text;
  std::size_t name_size = 0;
  std::int32_t write_error = 0;  // first failed write, reported again at close

  // Reading: rbuf[rpos, rlen) is unread; rbase is the file offset of rbuf[0] (seekable only).
  LineAlignedBlock rbuf;
  std::size_t rpos = 0;
  std::size_t rlen = 0;
  off_t rbase = 0;
  off_t origin = 0;       // where the descriptor stood at connect: a rewind goes back there
  bool consumed = false;  // bytes were taken from the descriptor since open or rewind
  // A regular file's next block is read ahead into rnext, from file offset ahead_at on, while
  // ahead is set. That read leaves the descriptor's offset alone; taking the block moves it.
  // The file's identity, and its size and change time when the read started, tell whether
  // anything changed the file since.
  bool may_read_ahead = false;
  bool ahead = false;
  off_t ahead_at = 0;
  LineAlignedBlock rnext;
  dev_t device = 0;
  ino_t inode = 0;
  off_t ahead_size = 0;
  timespec ahead_changed{};

  // The record last read: its first kReread characters and where it started. A record that lay
  // whole in the read block is not copied: last_in_block says its characters are still at
  // rbuf[last_offset], since the block is refilled only by the next read, which replaces it.
  std::unique_ptr<char[]> last;
  std::size_t last_size = 0;
  std::size_t last_offset = 0;
  bool last_in_block = false;
  off_t last_start = 0;
  bool have_last = false;
  bool replay = false;  // the next read returns the saved record

  std::unique_ptr<char[]> wbuf;
  std::size_t wlen = 0;
  // A full block handed to the background writer: the unit's descriptor is left alone until
  // settle() has waited for it. Its failure, once seen, waits in late_error for the unit.
  std::unique_ptr<char[]> wspare;
  bool in_flight = false;
  std::int32_t late_error = 0;
};

struct ProgramName {
  std::array<char, kProgramNameMax> text{'k', 'u', 'd'};
  std::size_t size = 3;
};

std::int32_t close_all();

std::int32_t write_all(int fd, std::string_view a, std::string_view b);

// Read by the writer thread too.
constinit std::atomic<bool> g_stop_on_broken_standard_pipe{false};

// Dies as a write into a pipe without reader does by default, whatever the program set for
// SIGPIPE or blocked in this thread; the exit status stands in should the signal not end it.
[[noreturn]] void die_of_broken_pipe() {
  std::signal(SIGPIPE, SIG_DFL);
  sigset_t pipe_only;
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  ::pthread_sigmask(SIG_UNBLOCK, &pipe_only, nullptr);
  std::raise(SIGPIPE);
  ::_exit(128 + SIGPIPE);
}

// Runs a caller's filler on a whole block; a length beyond the block counts as the block.
std::size_t fill_block(BlockFiller filler, void* context, char* data) {
  return std::min(filler(context, {data, kBlock}), kBlock);
}

// The writer thread's job: the block, filled first when there is a filler; 0 or errno.
std::int64_t write_job(const detail::BlockJob& job) {
  const std::size_t size =
      job.filler != nullptr ? fill_block(job.filler, job.context, job.data) : job.size;
  return write_all(job.fd, {job.data, size}, {});
}

// One background thread writes full blocks of buffered units, so that the program fills the
// next block while the system takes the last one; another reads the next block of an input file
// while the program works on the one before. Each holds one block at a time. Never destroyed:
// units still flush through them while static objects are destroyed at exit. Replaced in a
// forked child, which leaks the copy of its parent's.
detail::BlockWorker* g_writer = nullptr;
detail::BlockWorker* g_reader = nullptr;

template <detail::BlockWorker** kWorker>
detail::BlockWorker& worker() {
  if (*kWorker == nullptr) {
    *kWorker = new detail::BlockWorker;
    if (::pthread_atfork([] { (*kWorker)->hold_for_fork(); },
                         [] { (*kWorker)->release_after_fork(); },
                         [] { *kWorker = (*kWorker)->fresh_for_child(); }) != 0) {
      (*kWorker)->no_fork_handlers();  // then every block is read or written in place
    }
  }
  return **kWorker;
}

detail::BlockWorker& block_writer() { return worker<&g_writer>(); }
detail::BlockWorker& block_reader() { return worker<&g_reader>(); }

struct Table {
  std::array<Unit, kUnitCount> units{};
  bool ready = false;
  // A program that returns from main instead of calling stop_program still gets its buffered
  // records written (and a failure reported on standard error).
  ~Table() {
    if (ready) static_cast<void>(close_all());
  }
};

constinit Table g_table{};
constinit ProgramName g_program{};

std::int32_t last_errno() { return errno != 0 ? static_cast<std::int32_t>(errno) : EIO; }

Unit* g_reading_ahead = nullptr;  // the unit whose next block the reader thread holds

// The reader thread's job: up to size bytes from offset on; the count, or minus errno.
std::int64_t read_job(const detail::BlockJob& job) {
  for (;;) {
    const ssize_t got = ::pread(job.fd, job.data, job.size, job.offset);
    if (got >= 0) return got;
    if (errno != EINTR) return -static_cast<std::int64_t>(last_errno());
  }
}

// Waits for the unit's read ahead and ends it; returns its outcome.
std::int64_t end_ahead(Unit& u) {
  const std::int64_t got = block_reader().finish();
  u.ahead = false;
  g_reading_ahead = nullptr;
  return got;
}

// Waits for the unit's read ahead, if any, and forgets it: a unit must do so before its
// descriptor, its position or its blocks change.
void drop_ahead(Unit& u) {
  if (u.ahead) static_cast<void>(end_ahead(u));
}

// A writer on the unit's file drops the read ahead of another unit on the same file, which
// may hold what the write replaces.
void forget_ahead_on(const Unit& writer) {
  Unit* const reader = g_reading_ahead;
  if (reader != nullptr && reader != &writer && reader->device == writer.device &&
      reader->inode == writer.inode)
    drop_ahead(*reader);
}

bool same_time(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Starts reading the unit's block at offset ahead, when the reader thread is free.
void start_ahead(Unit& u, off_t offset) {
  struct stat info {};
  if (g_reading_ahead != nullptr || !ensure_aligned(u.rnext, kBlock) || ::fstat(u.fd, &info) != 0)
    return;
  if (!block_reader().start({read_job, u.fd, u.rnext.get(), kBlock, offset, nullptr, nullptr}))
    return;
  u.ahead = true;
  u.ahead_at = offset;
  u.ahead_size = info.st_size;
  u.ahead_changed = info.st_mtim;
  g_reading_ahead = &u;
}

// Takes the block read ahead as the read block; returns its byte count, or 0 when there is
// none to take (nothing was there, the read failed, or the file has changed since: it was
// cut, grew or was written), and the block is then read now, as it would have been without
// the read ahead. The descriptor then stands where a read of the block would have left it.
ssize_t take_ahead(Unit& u) {
  const std::int64_t got = end_ahead(u);
  struct stat info {};
  if (got <= 0 || ::fstat(u.fd, &info) != 0 || info.st_size != u.ahead_size ||
      !same_time(info.st_mtim, u.ahead_changed))
    return 0;
  if (::lseek(u.fd, u.rbase + static_cast<off_t>(got), SEEK_SET) == -1) return 0;
  std::swap(u.rbuf, u.rnext);
  return static_cast<ssize_t>(got);
}

std::span<char> block(const std::unique_ptr<char[]>& storage, std::size_t size) {
  return {storage.get(), size};
}

std::string_view name_of(const Unit& u) { return {u.name_text.get(), u.name_size}; }

// Returns false when memory is short.
bool set_name(Unit& u, std::string_view name) {
  std::unique_ptr<char[]> text(new (std::nothrow) char[name.size() + 1]);
  if (!text) return false;
  std::copy(name.begin(), name.end(), text.get());
  u.name_text = std::move(text);
  u.name_size = name.size();
  return true;
}

bool ensure(std::unique_ptr<char[]>& storage, std::size_t size) {
  if (!storage) storage.reset(new (std::nothrow) char[size]);
  return storage != nullptr;
}

void connect(Unit& u, int fd, bool owns, bool write_through) {
  drop_ahead(u);
  u = Unit{};
  u.fd = fd;
  u.connected = true;
  u.owns_fd = owns;
  u.write_through = write_through;
  const off_t here = ::lseek(fd, 0, SEEK_CUR);
  u.seekable = here != -1;
  u.rbase = u.seekable ? here : 0;
  u.origin = u.rbase;
  struct stat info {};
  if (::fstat(fd, &info) != 0) return;
  u.device = info.st_dev;
  u.inode = info.st_ino;
  u.may_read_ahead = u.seekable && S_ISREG(info.st_mode);
}

void attach_console() {
  reserve_standard_descriptors();
  struct Console {
    std::int32_t unit;
    int fd;
    std::string_view name;
    bool write_through;
  };
  static constexpr std::array<Console, 4> kConsoles{{{kConsoleAlias, 1, "stdout", true},
                                                     {kKeyboard, 0, "stdin", false},
                                                     {kConsoleOut, 1, "stdout", true},
                                                     {kConsoleErr, 2, "stderr", true}}};
  for (const Console& c : kConsoles) {
    Unit& u = g_table.units[static_cast<std::size_t>(c.unit)];
    connect(u, c.fd, false, c.write_through);
    u.may_read_ahead = false;  // the console is read as it comes, usually a terminal or a pipe
    static_cast<void>(set_name(u, c.name));
  }
}

Unit* slot(std::int32_t unit) {
  if (unit < 0 || unit > kLastUnit) return nullptr;
  if (!g_table.ready) {
    g_table.ready = true;
    attach_console();
  }
  return &g_table.units[static_cast<std::size_t>(unit)];
}

bool is_console(std::int32_t unit) {
  return unit == kConsoleAlias || unit == kKeyboard || unit == kConsoleOut || unit == kConsoleErr;
}

// Writes a then b completely, retrying short writes and interrupted calls.
std::int32_t write_all(int fd, std::string_view a, std::string_view b) {
  while (!a.empty() || !b.empty()) {
    std::array<iovec, 2> iov{};
    int count = 0;
    for (std::string_view part : {a, b}) {
      if (part.empty()) continue;
      iov[static_cast<std::size_t>(count)] = {const_cast<char*>(part.data()), part.size()};
      ++count;
    }
    const ssize_t done = ::writev(fd, iov.data(), count);
    if (done < 0) {
      if (errno == EINTR) continue;
      if (errno == EPIPE && (fd == STDOUT_FILENO || fd == STDERR_FILENO) &&
          g_stop_on_broken_standard_pipe.load(std::memory_order_relaxed))
        die_of_broken_pipe();
      return last_errno();
    }
    if (done == 0) return EIO;
    auto n = static_cast<std::size_t>(done);
    const std::size_t from_a = std::min(n, a.size());
    a.remove_prefix(from_a);
    b.remove_prefix(n - from_a);
  }
  return 0;
}

std::int32_t note_write(Unit& u, std::int32_t err) {
  if (err != 0 && u.write_error == 0) u.write_error = err;
  return err;
}

Unit* g_in_flight = nullptr;  // the unit whose block the background writer holds

// Waits for the unit's block in flight, if any. Its failure waits in late_error until the unit
// is next used (and is kept for close).
void wait_in_flight(Unit& u) {
  if (!u.in_flight) return;
  u.in_flight = false;
  g_in_flight = nullptr;
  if (const auto err = static_cast<std::int32_t>(block_writer().finish()); err != 0) {
    note_write(u, err);
    if (u.late_error == 0) u.late_error = err;
  }
}

// As wait_in_flight; returns the failure of a block written in the background that the unit
// has not been told of yet.
std::int32_t settle(Unit& u) {
  wait_in_flight(u);
  return std::exchange(u.late_error, 0);
}

std::int32_t flush(Unit& u) {
  const std::size_t size = std::exchange(u.wlen, 0);
  // Buffered data that could not be written is dropped: retrying would repeat the failure and
  // mix old records with new ones. The failure is kept for close. After a failed block the
  // rest is dropped too, so that the file has no records beyond a hole.
  if (const std::int32_t late = settle(u); late != 0) return late;
  if (size == 0) return 0;
  forget_ahead_on(u);
  return note_write(u, write_all(u.fd, {u.wbuf.get(), size}, {}));
}

// Hands the unit's full block to the background writer and goes on in its spare block; the
// block written before, this unit's or another's, is waited for first. Writes the block at once
// where no background write can start. With a filler, the block's text is what the filler puts
// into it, on the writer thread or here.
std::int32_t hand_off(Unit& u, BlockFiller filler = nullptr, void* context = nullptr) {
  if (const std::int32_t late = settle(u); late != 0) {
    u.wlen = 0;  // dropped, as a failed flush drops it
    return late;
  }
  if (u.wlen == 0 && filler == nullptr) return 0;
  if (g_in_flight != nullptr) wait_in_flight(*g_in_flight);
  forget_ahead_on(u);
  if (!ensure(u.wspare, kBlock) ||
      !block_writer().start({write_job, u.fd, u.wbuf.get(), u.wlen, 0, filler, context})) {
    if (filler != nullptr) u.wlen = fill_block(filler, context, u.wbuf.get());
    return flush(u);
  }
  std::swap(u.wbuf, u.wspare);
  u.wlen = 0;
  u.in_flight = true;
  g_in_flight = &u;
  return 0;
}

// A console unit writes at once; anything another unit holds for the same descriptor goes
// first, so that output keeps its order.
void flush_others_on(const Unit& self) {
  for (Unit& other : g_table.units) {
    if (&other != &self && other.connected && other.fd == self.fd &&
        (other.wlen > 0 || other.in_flight))
      static_cast<void>(flush(other));
  }
}

void drop_read_state(Unit& u) {
  drop_ahead(u);
  u.rpos = 0;
  u.rlen = 0;
  u.have_last = false;
  u.replay = false;
}

// Ends a run of reads before writing: the descriptor goes back to the logical position (the
// read block ran ahead of it) and the read state is dropped.
std::int32_t leave_reading(Unit& u) {
  if (u.seekable && (u.rpos < u.rlen || u.replay)) {
    const off_t target = u.replay ? u.last_start : u.rbase + static_cast<off_t>(u.rpos);
    if (::lseek(u.fd, target, SEEK_SET) == -1) return last_errno();
  }
  drop_read_state(u);
  u.mode = Mode::kIdle;
  return 0;
}

std::int32_t enter_writing(Unit& u) {
  if (u.mode == Mode::kReading) {
    if (const std::int32_t err = leave_reading(u); err != 0) return err;
  }
  u.mode = Mode::kWriting;
  return 0;
}

std::int32_t enter_reading(Unit& u) {
  if (u.mode == Mode::kWriting) {
    if (const std::int32_t err = flush(u); err != 0) return err;
    drop_read_state(u);
    if (u.seekable) {
      const off_t here = ::lseek(u.fd, 0, SEEK_CUR);
      if (here == -1) return last_errno();
      u.rbase = here;
    }
  }
  u.mode = Mode::kReading;
  return 0;
}

std::int32_t put(std::int32_t unit, std::string_view text, bool record) {
  Unit* u = slot(unit);
  if (u == nullptr || !u->connected) return EBADF;
  // A record into a buffered unit that is writing already and has room for it: one copy and
  // the CR LF, nothing else to settle.
  if (record && u->mode == Mode::kWriting && !u->write_through && u->wbuf &&
      text.size() + 2 <= kBlock - u->wlen) {
    char* out = u->wbuf.get() + u->wlen;
    if (!text.empty()) std::memcpy(out, text.data(), text.size());
    out[text.size()] = '\r';
    out[text.size() + 1] = '\n';
    u->wlen += text.size() + 2;
    return 0;
  }
  if (const std::int32_t err = enter_writing(*u); err != 0) return err;
  const std::string_view ending = record ? "\r\n" : "";
  forget_ahead_on(*u);
  if (u->write_through) {
    flush_others_on(*u);
    return note_write(*u, write_all(u->fd, text, ending));
  }
  if (!ensure(u->wbuf, kBlock)) return ENOMEM;
  const std::size_t total = text.size() + ending.size();
  if (total > kBlock) {
    if (const std::int32_t err = flush(*u); err != 0) return err;
    return note_write(*u, write_all(u->fd, text, ending));
  }
  if (total > kBlock - u->wlen) {
    if (const std::int32_t err = hand_off(*u); err != 0) return err;
  }
  const std::span<char> out = block(u->wbuf, kBlock).subspan(u->wlen);
  // std::copy, unlike memcpy, is defined for an empty view whose data() is null.
  const auto after_text = std::copy(text.begin(), text.end(), out.begin());
  std::copy(ending.begin(), ending.end(), after_text);
  u->wlen += total;
  return 0;
}

// Reads the next block into the read block; returns the byte count, 0 at end of file or minus
// errno.
ssize_t read_block(Unit& u) {
  for (;;) {
    const ssize_t got = ::read(u.fd, u.rbuf.get(), kBlock);
    if (got >= 0 || errno != EINTR) return got >= 0 ? got : -static_cast<ssize_t>(last_errno());
  }
}

// Refills the read block; returns the byte count, 0 at end of file or minus errno. A regular
// file's block comes from the read ahead when there is one, and the block after it is read
// ahead in turn, so that the system copies it while the program works on this one.
ssize_t fill(Unit& u) {
  if (u.seekable) u.rbase += static_cast<off_t>(u.rlen);
  u.rpos = 0;
  u.rlen = 0;
  ssize_t got = 0;
  if (u.ahead && u.ahead_at == u.rbase) {
    got = take_ahead(u);
  } else {
    drop_ahead(u);
  }
  if (got == 0) got = read_block(u);
  if (got <= 0) return got;
  u.rlen = static_cast<std::size_t>(got);
  u.consumed = true;
  // After a short block the file has most likely ended: the next read looks again then.
  if (u.may_read_ahead && static_cast<std::size_t>(got) == kBlock)
    start_ahead(u, u.rbase + static_cast<off_t>(got));
  return got;
}

// Appends up to room - used characters of piece to out; notes when some did not fit.
void keep(std::span<char> out, std::size_t& used, bool& cut, std::string_view piece) {
  const std::size_t room = out.size() - used;
  if (piece.size() > room) cut = true;
  const std::size_t n = std::min(piece.size(), room);
  if (n == 0) return;
  std::memcpy(out.subspan(used).data(), piece.data(), n);
  used += n;
}

// Takes the next record when it ends inside the read block, as most do: one search, one copy,
// and the step-back copy is left where it lies. False when the block holds no whole record.
[[gnu::always_inline]] inline bool take_from_block(Unit& u, std::span<char> out,
                                                   std::int32_t& kept) {
  if (u.rpos >= u.rlen) return false;
  const char* from = u.rbuf.get() + u.rpos;
  const void* lf = std::memchr(from, '\n', u.rlen - u.rpos);
  if (lf == nullptr) return false;
  std::size_t size = static_cast<std::size_t>(static_cast<const char*>(lf) - from);
  const std::size_t next = u.rpos + size + 1;
  if (size > 0 && from[size - 1] == '\r') --size;  // the CR belongs to the terminator
  const std::size_t n = std::min(size, out.size());
  if (n > 0) std::memcpy(out.data(), from, n);
  u.last_start = u.rbase + static_cast<off_t>(u.rpos);
  u.last_offset = u.rpos;
  u.last_size = std::min(size, kReread);
  u.last_in_block = true;
  u.have_last = true;
  u.rpos = next;
  kept = static_cast<std::int32_t>(n);
  return true;
}

std::int32_t read_next(Unit& u, std::span<char> out, std::int32_t& kept) {
  if (!ensure_aligned(u.rbuf, kBlock) || !ensure(u.last, kReread)) return ENOMEM;
  if (take_from_block(u, out, kept)) return 0;
  u.last_in_block = false;
  const std::span<char> saved_to = block(u.last, kReread);
  std::size_t copied = 0;
  std::size_t saved = 0;
  bool cut = false;        // the record is longer than out
  bool saved_cut = false;  // the record is longer than the reread copy
  bool started = false;    // a byte of the record, or its LF, has been seen
  bool ends_in_cr = false;
  const off_t start = u.rbase + static_cast<off_t>(u.rpos);
  for (;;) {
    if (u.rpos == u.rlen) {
      const ssize_t got = fill(u);
      if (got < 0) {
        u.have_last = false;
        return static_cast<std::int32_t>(-got);
      }
      if (got == 0) {
        if (!started) {
          u.have_last = false;
          return -1;
        }
        break;
      }
    }
    started = true;
    const std::span<const char> unread = std::span(u.rbuf.get(), u.rlen).subspan(u.rpos);
    const std::string_view rest(unread.data(), unread.size());
    const std::size_t lf = rest.find('\n');
    const std::string_view piece = rest.substr(0, lf);
    keep(out, copied, cut, piece);
    keep(saved_to, saved, saved_cut, piece);
    if (!piece.empty()) ends_in_cr = piece.back() == '\r';
    u.rpos += piece.size();
    if (lf != std::string_view::npos) {
      ++u.rpos;
      break;
    }
  }
  // A CR that ends the record belongs to the terminator. When the record was cut, that CR lies
  // beyond the kept part, so only an uncut copy loses its last character.
  if (ends_in_cr) {
    if (!cut) --copied;
    if (!saved_cut) --saved;
  }
  u.last_size = saved;
  u.last_start = start;
  u.have_last = true;
  kept = static_cast<std::int32_t>(copied);
  return 0;
}

std::int32_t close_slot(std::int32_t unit) {
  Unit* u = slot(unit);
  if (u == nullptr) return EBADF;
  if (!u->connected) return 0;
  drop_ahead(*u);  // the reader thread may be filling a block of the unit's
  std::int32_t err = flush(*u);
  if (err == 0) err = u->write_error;
  u->write_error = 0;
  if (is_console(unit)) return err;  // the standard streams stay connected
  if (u->owns_fd && ::close(u->fd) != 0 && errno != EINTR && err == 0) err = last_errno();
  *u = Unit{};
  return err;
}

void report_failure(std::string_view file, std::int32_t err) {
  std::string line(program_name());
  line += ": ";
  line += file;
  line += ": ";
  line += std::strerror(static_cast<int>(err));
  line += '\n';
  static_cast<void>(write_all(2, line, {}));
}

std::int32_t close_all() {
  std::int32_t first = 0;
  for (std::int32_t unit = 0; unit <= kLastUnit; ++unit) {
    const Unit* u = slot(unit);
    if (!u->connected) continue;
    const std::string name(name_of(*u));
    const std::int32_t err = close_slot(unit);
    if (err != 0 && first == 0) {
      first = err;
      report_failure(name, err);
    }
  }
  return first;
}

}  // namespace

std::int32_t open_unit(std::int32_t unit, const OpenRequest& request) {
  if (unit < kFirstFileUnit || unit > kLastFileUnit) return EBADF;
  if (const std::int32_t err = close_slot(unit); err != 0) return err;
  Unit& u = *slot(unit);
  std::string path;
  int fd = -1;
  if (request.status == FileStatus::kScratch) {
    const char* dir = std::getenv("TMPDIR");
    path = (dir != nullptr && *dir != '\0') ? dir : "/tmp";
    path += "/kudXXXXXX";
    fd = ::mkstemp(path.data());
    if (fd == -1) return last_errno();
    ::unlink(path.c_str());  // gone from the folder now, gone from the disk at close
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  } else {
    if (request.name.empty()) return ENOENT;
    // A NUL would silently cut the name short and open another file.
    if (request.name.find('\0') != std::string_view::npos) return EINVAL;
    path = request.name;
    constexpr int kCommon = O_CLOEXEC | O_NOCTTY;
    int flags = O_RDWR | kCommon;
    if (request.status == FileStatus::kNew) flags |= O_CREAT | O_EXCL;
    if (request.status == FileStatus::kUnknown) flags |= O_CREAT | O_TRUNC;
    // A pipe or device is opened one way only: holding its other end too, the program would
    // never see a pipe's end of file, nor learn that its reader has gone.
    struct stat existing {};
    if (::stat(path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode) &&
        !S_ISDIR(existing.st_mode)) {
      if (request.status == FileStatus::kOld) flags = O_RDONLY | kCommon;
      if (request.status == FileStatus::kUnknown) flags = O_WRONLY | kCommon;
    }
    auto try_open = [&](int f) {
      int got = -1;
      do got = ::open(path.c_str(), f, 0666);
      while (got == -1 && errno == EINTR);
      return got;
    };
    fd = try_open(flags);
    // An old file that may only be read is still opened, for reading.
    if (fd == -1 && request.status == FileStatus::kOld &&
        (errno == EACCES || errno == EROFS || errno == ETXTBSY))
      fd = try_open(O_RDONLY | kCommon);
    if (fd == -1) return last_errno();
    struct stat info {};
    std::int32_t err = 0;
    if (::fstat(fd, &info) != 0) {
      err = last_errno();
    } else if (S_ISDIR(info.st_mode)) {
      err = EISDIR;  // a folder opens for reading, but holds no records
    }
    if (err != 0) {
      ::close(fd);
      return err;
    }
  }
  connect(u, fd, true, false);
  forget_ahead_on(u);  // opening may have emptied the file another unit reads
  if (!set_name(u, path)) {
    ::close(fd);
    u = Unit{};
    return ENOMEM;
  }
  return 0;
}

std::int32_t attach_unit(std::int32_t unit, int fd, std::string_view name, bool buffered) {
  Unit* u = slot(unit);
  if (u == nullptr || fd < 0 || ::fcntl(fd, F_GETFD) == -1) return EBADF;
  if (const std::int32_t err = close_slot(unit); err != 0) return err;
  connect(*u, fd, false, !buffered);
  if (!set_name(*u, name)) {
    *u = Unit{};
    return ENOMEM;
  }
  return 0;
}

namespace {

// Every case of read_record_raw but reading on from a block that holds the whole next record,
// kept out of line so that this common case pays for no more than it uses.
[[gnu::noinline]] std::int32_t read_record_slowly(Unit* u, std::span<char> buffer,
                                                  std::int32_t& kept) {
  if (u == nullptr || !u->connected) return EBADF;
  if (buffer.size() > static_cast<std::size_t>(INT32_MAX)) return EINVAL;
  if (u->replay) {
    u->replay = false;
    const std::size_t n = std::min(buffer.size(), u->last_size);
    const char* saved = u->last_in_block ? u->rbuf.get() + u->last_offset : u->last.get();
    if (n > 0) std::memcpy(buffer.data(), saved, n);
    kept = static_cast<std::int32_t>(n);
    return 0;
  }
  if (const std::int32_t err = enter_reading(*u); err != 0) return err;
  return read_next(*u, buffer, kept);
}

}  // namespace

std::int32_t read_record_raw(std::int32_t unit, std::span<char> buffer, std::int32_t& kept) {
  kept = 0;
  Unit* u = slot(unit);
  // Reading on from a block that holds the whole next record: nothing else to settle. A unit
  // that is reading is connected.
  if (u != nullptr && u->mode == Mode::kReading && !u->replay &&
      buffer.size() <= static_cast<std::size_t>(INT32_MAX) && take_from_block(*u, buffer, kept))
    return 0;
  return read_record_slowly(u, buffer, kept);
}

std::int32_t read_record(std::int32_t unit, std::span<char> buffer) {
  std::int32_t kept = 0;
  const std::int32_t result = read_record_raw(unit, buffer, kept);
  const auto pad = buffer.subspan(static_cast<std::size_t>(kept));
  std::fill(pad.begin(), pad.end(), ' ');
  return result;
}

std::int32_t write_record(std::int32_t unit, std::string_view text) {
  return put(unit, text, true);
}

std::int32_t write_prompt(std::int32_t unit, std::string_view text) {
  return put(unit, text, false);
}

// A caller's block on a buffered unit: what the unit holds goes first; then the caller's block
// becomes the unit's and goes to the background writer as it is (length bytes) or as the filler
// fills it, and the caller gets the unit's empty block back.
std::int32_t take_block(Unit& u, std::unique_ptr<char[]>& block, std::size_t length,
                        BlockFiller filler, void* context) {
  if (const std::int32_t err = hand_off(u); err != 0) return err;
  std::swap(u.wbuf, block);
  u.wlen = length;
  return hand_off(u, filler, context);
}

std::int32_t write_block(std::int32_t unit, std::unique_ptr<char[]>& block, std::size_t length) {
  Unit* u = slot(unit);
  if (u == nullptr || !u->connected) return EBADF;
  if (length > kBlock || (length > 0 && !block)) return EINVAL;
  if (const std::int32_t err = enter_writing(*u); err != 0) return err;
  if (u->write_through) return put(unit, {block.get(), length}, false);
  return take_block(*u, block, length, nullptr, nullptr);
}

std::int32_t write_block_filled(std::int32_t unit, std::unique_ptr<char[]>& block,
                                BlockFiller filler, void* context) {
  Unit* u = slot(unit);
  if (u == nullptr || !u->connected) return EBADF;
  if (!block || filler == nullptr) return EINVAL;
  if (const std::int32_t err = enter_writing(*u); err != 0) return err;
  if (u->write_through)
    return put(unit, {block.get(), fill_block(filler, context, block.get())}, false);
  return take_block(*u, block, 0, filler, context);
}

std::int32_t backspace_unit(std::int32_t unit) {
  Unit* u = slot(unit);
  if (u == nullptr || !u->connected) return EBADF;
  if (u->replay) return EINVAL;  // only one record is kept for stepping back
  if (u->have_last) u->replay = true;
  return 0;
}

std::int32_t rewind_unit(std::int32_t unit) {
  Unit* u = slot(unit);
  if (u == nullptr || !u->connected) return EBADF;
  if (const std::int32_t err = flush(*u); err != 0) return err;
  if (::lseek(u->fd, u->origin, SEEK_SET) == -1) {
    // A pipe cannot go back, but one not yet read from is already at its start.
    if (errno == ESPIPE && !u->consumed) return 0;
    return last_errno();
  }
  drop_read_state(*u);
  u->rbase = u->origin;
  u->consumed = false;
  u->mode = Mode::kIdle;
  return 0;
}

std::int32_t flush_unit(std::int32_t unit) {
  Unit* u = slot(unit);
  if (u == nullptr || !u->connected) return EBADF;
  return flush(*u);
}

void wait_for_unit(std::int32_t unit) {
  Unit* u = slot(unit);
  if (u != nullptr && u->connected) wait_in_flight(*u);
}

std::int32_t close_unit(std::int32_t unit) { return close_slot(unit); }

bool is_connected(std::int32_t unit) {
  const Unit* u = slot(unit);
  return u != nullptr && u->connected;
}

std::string_view unit_name(std::int32_t unit) {
  const Unit* u = slot(unit);
  return u != nullptr && u->connected ? name_of(*u) : std::string_view{};
}

bool names_unit_file(std::string_view name, std::int32_t unit) {
  const Unit* u = slot(unit);
  if (u == nullptr || !u->connected || name.empty() || name.find('\0') != std::string_view::npos)
    return false;
  const std::string path(name);
  struct stat named {};
  struct stat connected {};
  if (::stat(path.c_str(), &named) != 0 || ::fstat(u->fd, &connected) != 0) return false;
  return named.st_dev == connected.st_dev && named.st_ino == connected.st_ino;
}

std::int32_t close_all_units() { return close_all(); }

// A file opened later must not get the number of a missing standard descriptor: a failure line
// meant for standard error would land in it, or data meant for standard output. Standard input
// then reads as empty; standard output is held read-only, so that writing it still fails as it
// would have; standard error takes what is written to it.
void reserve_standard_descriptors() {
  constexpr std::array<int, 3> kModes = {O_RDONLY, O_RDONLY, O_WRONLY};
  for (int fd = 0; fd < 3; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int got = ::open("/dev/null", kModes[static_cast<std::size_t>(fd)] | O_NOCTTY);
    if (got != -1 && got != fd) {
      ::dup2(got, fd);
      ::close(got);
    }
  }
}

void stop_program(int status) {
  const std::int32_t err = close_all();
  std::fflush(nullptr);
  std::_Exit(err != 0 ? 1 : status);
}

void stop_on_broken_standard_pipe(bool on) {
  g_stop_on_broken_standard_pipe.store(on, std::memory_order_relaxed);
}

void set_program_name(std::string_view name) {
  const std::size_t n = std::min(name.size(), kProgramNameMax);
  std::copy_n(name.begin(), n, g_program.text.begin());
  g_program.size = n;
}

// The bound holds already (set_program_name cuts the name); stated here, it tells the
// optimiser across files that a copy of the name never reads past the array.
std::string_view program_name() {
  return {g_program.text.data(), std::min(g_program.size, g_program.text.size())};
}

void reset_units() {
  for (std::int32_t unit = 0; unit <= kLastUnit; ++unit) {
    static_cast<void>(close_slot(unit));
    *slot(unit) = Unit{};
  }
  attach_console();
}

}  // namespace kud::io

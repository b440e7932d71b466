// Record I/O on unit numbers: the platform layer under the KUD library and the driver.
//
// Units 1 to 99 are files connected by open_unit(). Unit 5 is standard input and unit 6 standard
// output from the start; unit 0 is an alias of standard output (the reader's "0 = standard
// output"), and kConsoleErr is standard error. Every routine returns 0 on success, -1 at end of
// file (reads only) or a positive errno value; none of them throws. A record ends at LF; one CR
// right before the LF, or right before the end of the file, belongs to the terminator. Any byte
// value, NUL and 128-255 included, is an ordinary character. Memory stays bounded whatever a
// record's length: its first characters are kept, the rest is skipped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

namespace kud::io {

inline constexpr std::int32_t kConsoleAlias = 0;  // standard output, for the reader's units
inline constexpr std::int32_t kKeyboard = 5;      // standard input
inline constexpr std::int32_t kConsoleOut = 6;    // standard output
inline constexpr std::int32_t kConsoleErr = 100;  // standard error (never a file unit)
inline constexpr std::int32_t kFirstFileUnit = 1;
inline constexpr std::int32_t kLastFileUnit = 99;

// After a step back, at most this many characters of the record are read again.
inline constexpr std::int32_t kRereadLimit = 4096;

// Read and write block size. A buffered unit copies a record of up to this many bytes, CR LF
// included, into its block; a longer one is written straight away.
inline constexpr std::size_t kBlockSize = std::size_t{512} * 1024;

enum class FileStatus : std::int32_t { kOld, kNew, kUnknown, kScratch };

struct OpenRequest {
  std::string_view name;  // trailing blanks already removed; unused for kScratch
  FileStatus status = FileStatus::kUnknown;
  bool direct = false;
  bool formatted = true;
  std::int32_t record_length = 0;  // characters or words, for direct access only
};

// Connects a file to unit (1..99), closing what the unit held. kOld must exist (a folder fails
// with EISDIR), kNew must not, kUnknown is created or truncated, kScratch is an unnamed temporary
// file removed at close. Nothing locks the file. Returns 0 or errno.
[[nodiscard]] std::int32_t open_unit(std::int32_t unit, const OpenRequest& request);

// Connects an already open descriptor (standard input or output, for "-" on the command line),
// from where it stands. buffered: writes go out in large blocks instead of one write per record.
// The descriptor stays the caller's: closing the unit flushes it but does not close it.
[[nodiscard]] std::int32_t attach_unit(std::int32_t unit, int fd, std::string_view name,
                                       bool buffered);

// Reads the next record into buffer: its first buffer.size() characters, blank-padded.
[[nodiscard]] std::int32_t read_record(std::int32_t unit, std::span<char> buffer);

// As read_record, without blank padding: kept receives how many characters were stored.
[[nodiscard]] std::int32_t read_record_raw(std::int32_t unit, std::span<char> buffer,
                                           std::int32_t& kept);

// Writes text followed by CR LF.
[[nodiscard]] std::int32_t write_record(std::int32_t unit, std::string_view text);

// Writes the first length bytes of block, whole records with their CR LF, after everything
// written to unit before. block holds kBlockSize bytes (new char[]) and length <= kBlockSize.
// A buffered unit takes the block over instead of copying it and hands back one of its own,
// of the same size or empty. Either way the caller may fill block again on return.
[[nodiscard]] std::int32_t write_block(std::int32_t unit, std::unique_ptr<char[]>& block,
                                       std::size_t length);

// Puts whole records, each with its CR LF, at the start of block (kBlockSize bytes) and returns
// their length. It runs on another thread, so it must not use the units.
using BlockFiller = std::size_t (*)(void* context, std::span<char> block);

// As write_block, with block's records made by filler(context, block). Where the unit writes in
// the background, the filler runs on the writer thread and the caller goes on at once; the
// filler is done, and context free again, once the unit's next write, flush or close returns
// (and once any buffered unit hands over its next full block).
[[nodiscard]] std::int32_t write_block_filled(std::int32_t unit, std::unique_ptr<char[]>& block,
                                              BlockFiller filler, void* context);

// Writes text with no terminator (a console prompt).
[[nodiscard]] std::int32_t write_prompt(std::int32_t unit, std::string_view text);

// Steps back one record: the next read returns the record last read again (also on a pipe).
// Only one step is kept: a second step back without a read in between returns EINVAL. Before
// any read, or after end of file or a write, there is no record to step over and nothing
// happens.
[[nodiscard]] std::int32_t backspace_unit(std::int32_t unit);

// Positions the unit before its first record: where the descriptor stood when the unit was
// connected (the start of a file opened by name; where the caller left an attached descriptor).
// A pipe can be "rewound" only before its first read.
[[nodiscard]] std::int32_t rewind_unit(std::int32_t unit);

// Writes out what is buffered for the unit.
[[nodiscard]] std::int32_t flush_unit(std::int32_t unit);

// Waits until the unit's block in flight, if any, is written (and its filler done). Its
// failure stays with the unit: the next write, flush or close returns it.
void wait_for_unit(std::int32_t unit);

// Flushes and disconnects the unit. Closing a unit that is not connected is no error. The
// console units (0, 5, 6, kConsoleErr) are only flushed: they stay connected.
[[nodiscard]] std::int32_t close_unit(std::int32_t unit);

// True when a file unit is connected.
[[nodiscard]] bool is_connected(std::int32_t unit);

// The name the unit was connected with ("" when not connected).
[[nodiscard]] std::string_view unit_name(std::int32_t unit);

// True when name designates the very file connected to unit (same device and inode), however
// the path is spelled: through links, "./", absolute or relative.
[[nodiscard]] bool names_unit_file(std::string_view name, std::int32_t unit);

// Puts /dev/null in place of each of descriptors 0, 1 and 2 that is closed (1 read-only, so
// that writes to it fail); call it before anything opens a file. The units do so at first use.
void reserve_standard_descriptors();

// Flushes and closes every file unit. On failure, writes one line "<program>: <file>: <reason>"
// on standard error and returns the first error number; 0 otherwise.
[[nodiscard]] std::int32_t close_all_units();

// Ends the process: every unit is flushed and closed first, so nothing written is lost. If that
// fails the failure is reported and the exit status is 1 instead of status.
[[noreturn]] void stop_program(int status);

// When on, a write to descriptor 1 or 2 that fails because its pipe's reader has gone (EPIPE)
// ends the process at once and silently by SIGPIPE (status 141 in a shell), as filters end in
// a pipeline, from whichever thread wrote. Off by default: the write returns EPIPE.
void stop_on_broken_standard_pipe(bool on);

// The name that leads failure lines on standard error ("zelp").
void set_program_name(std::string_view name);
[[nodiscard]] std::string_view program_name();

// Closes every unit and forgets every connection; standard streams are re-attached. Tests only.
void reset_units();

}  // namespace kud::io

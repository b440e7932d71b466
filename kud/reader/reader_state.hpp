// The line reader's one global state record, its set-up and the settings and queries by code.
//
// Character arrays are indexed by the 1-based column itself: element 0 is unused, so that
// RS.LINE[RS.IPOS] reads as the algorithms do. The record lives in static storage and is
// constant-initialised: the 10 MB memory text costs no resident memory unless it is used.
// These routines neither allocate nor throw.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace kud {

inline constexpr std::int32_t kMaxLine = 2048;         // most characters taken from a record
inline constexpr std::int32_t kMemText = 10'000'000;   // size of the in-memory text
inline constexpr std::int32_t kWordMax = 32;           // longest word item
inline constexpr std::int32_t kMemoryUnit = -4321;     // the one negative unit RDINIT accepts
inline constexpr char kSentinel = 'S';                 // stands after the line's last character
inline constexpr std::int32_t kEofStatus = -999;       // ISTAT after a reported end of file
inline constexpr std::int32_t kMaxCount = 2147483647;  // counters saturate here

// RDSET codes.
inline constexpr std::int32_t kSetLunrd = 1;
inline constexpr std::int32_t kSetLunmsg = 2;
inline constexpr std::int32_t kSetLunech = 3;
inline constexpr std::int32_t kSetIupcas = 11;
inline constexpr std::int32_t kSetMxeof = 12;
inline constexpr std::int32_t kSetNeof = 13;
inline constexpr std::int32_t kSetNchlin = 21;
inline constexpr std::int32_t kSetNcmtch = 22;
// RDGET codes.
inline constexpr std::int32_t kGetIpos = 1;
inline constexpr std::int32_t kGetNchlin = 2;
inline constexpr std::int32_t kGetNcmtch = 3;
inline constexpr std::int32_t kGetIupcas = 4;
inline constexpr std::int32_t kGetLunrd = 5;
inline constexpr std::int32_t kGetLunmsg = 6;
inline constexpr std::int32_t kGetLunech = 7;
inline constexpr std::int32_t kGetMxeof = 8;
inline constexpr std::int32_t kGetNlinrd = 9;
inline constexpr std::int32_t kGetLenlin = 10;

struct ReaderState {
  std::array<char, kMemText + 1> MEMTXT;  // in-memory text, 1..MEMLEN
  std::int32_t MEMPOS;                    // where the current memory line begins; 0 = none yet
  std::int32_t MEMEND;                    // the current memory line's last character
  std::int32_t MEMLEN;                    // characters held in MEMTXT
  std::int32_t ITMBEG;                    // first column of the last free-text item
  std::int32_t ITMEND;                    // column after the free-text item
  std::array<char, kMaxLine + 2> LINRAW;  // the record as read, 1..NCHLIN, sentinel at NCHLIN+1
  std::array<char, kMaxLine + 2> LINE;    // the working line, sentinel at LENLIN+1
  std::array<char, 27> ALPUPP;            // the letters, 1..26
  std::array<char, kWordMax + 1> TXTITM;  // the last word item, 1..LTXITM
  char CHCOL1;                            // column-1 comment character
  char CHCMT;                             // comment character
  char CHBLNK;                            // the blank
  char CHCUR;                             // the letter last taken
  char CHDELM;                            // the item delimiter
  double RVAL;                            // value of the last real item
  std::int32_t NCHLIN;                    // characters taken from each record
  std::int32_t LENLIN;                    // last column of the working line
  std::int32_t NCMTCH;                    // abbreviation threshold of MATCH
  std::int32_t MXEOF;                     // end-of-file policy
  std::int32_t IUPCAS;                    // 1 = fold a..z to upper case
  std::int32_t LUNRD;                     // unit read: >0 unit, 0 standard input, <0 MEMTXT
  std::int32_t LUNMSG;                    // message unit: >0 unit, 0 standard output, <0 none
  std::int32_t LUNECH;                    // echo unit, as LUNMSG
  std::int32_t ISTAT;                     // status of the last fetch
  std::int32_t NLINRD;                    // records taken so far (saturates)
  std::int32_t IDIGIT;                    // value of the digit last taken
  std::int32_t IEXPO;                     // signed exponent being read
  std::int32_t IACCU;                     // value of the digit run being read
  std::int32_t IVAL;                      // value of the last integer item
  std::int32_t LTXITM;                    // length of the word in TXTITM
  std::int32_t NEOF;                      // end-of-file hits since the set-up (saturates)
  std::int32_t IPOS;                      // the scanning cursor
  // Added for the fetch's speed and the long-run rule; not part of the classic record.
  std::int32_t raw_blank_from;      // LINRAW is blank from here to NCHLIN; 0 = unknown
  bool accu_wide;                   // the last digit run did not fit 32 bits
  double accu_real;                 // value of the last digit run in double arithmetic
  std::array<bool, 256> is_letter;  // the characters of ALPUPP, by code; set with ALPUPP
};

extern ReaderState RS;

// Zero-fills RS again and values literals digit by digit, as at program start. Tests only.
void reset_reader_state();

// Checks NCHLIN (1..2048), NCMTCH (>= 1) and LUNRD (>= 0 or -4321) and sets the defaults.
// ierr: 0, or -1 with a report on the message unit in force before the call.
void RDINIT(std::int32_t nchlin, std::int32_t ncmtch, std::int32_t lunrd, std::int32_t lunmsg,
            std::int32_t lunech, std::int32_t& ierr);

// Attaches the reader to lunrd with 132 characters a line; lowers ierr by one on rejection.
void INIFII(std::int32_t lunrd, std::int32_t luncon, std::int32_t& ierr);

// Sets one setting by code; unknown codes are ignored.
void RDSET(std::int32_t value, std::int32_t code);

// Reads one setting or counter by code; unknown codes give 0.
[[nodiscard]] std::int32_t RDGET(std::int32_t code);

// Status of the last fetch (ISTAT).
[[nodiscard]] inline std::int32_t RDSTAT() { return RS.ISTAT; }

// True once an end of file has been met (NEOF > 0).
[[nodiscard]] inline bool RDEOF() { return RS.NEOF > 0; }

// The column-1 comment character becomes the first character of text.
void RDCOL1(std::string_view text);

// Positions the input before its first line; NLINRD and NEOF are kept.
void RDREW();

// Adds one to a counter, stopping at 2147483647.
constexpr void count_up(std::int32_t& counter) {
  if (counter < kMaxCount) ++counter;
}

}  // namespace kud

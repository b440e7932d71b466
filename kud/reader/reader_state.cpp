#include "kud/reader/reader_state.hpp"

#include <cstddef>
#include <cstring>
#include <string>

#include "kud/io/units.hpp"
#include "kud/numeric/literals.hpp"
#include "kud/reader/line_fetch.hpp"
#include "kud/text/report.hpp"

namespace kud {

constinit ReaderState RS{};

void reset_reader_state() {
  // Clear the memory text only as far as it was used, so that a reset costs no 10 MB of pages.
  const std::int32_t used = RS.MEMLEN < 0 ? 0 : (RS.MEMLEN < kMemText ? RS.MEMLEN : kMemText);
  std::memset(RS.MEMTXT.data(), 0, static_cast<std::size_t>(used) + 1);
  auto* rest = reinterpret_cast<unsigned char*>(&RS) + offsetof(ReaderState, MEMPOS);
  std::memset(rest, 0, sizeof(ReaderState) - offsetof(ReaderState, MEMPOS));
  use_exact_literals(false);
}

namespace {

constexpr std::string_view kLetters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";

void report_illegal(std::int32_t unit, std::int32_t nchlin, std::int32_t ncmtch,
                    std::int32_t lunrd) {
  if (unit < 0) return;
  char field[5];
  for (int i = 0; i < 3; ++i) write_message(unit, "");
  write_message(unit, " *** ERROR RETURN FROM  K U D  LIBRARY ROUTINE FIIOPN");
  std::string line = "     ILLEGAL PARAMETER(S) :  NCHLIN =";
  line += int_field(nchlin, 5, field);
  write_message(unit, line);
  line.assign(29, ' ');
  line += "NCMTCH =";
  line += int_field(ncmtch, 5, field);
  write_message(unit, line);
  line.assign(29, ' ');
  line += "LUNRD  =";
  line += int_field(lunrd, 5, field);
  write_message(unit, line);
}

}  // namespace

void RDINIT(std::int32_t nchlin, std::int32_t ncmtch, std::int32_t lunrd, std::int32_t lunmsg,
            std::int32_t lunech, std::int32_t& ierr) {
  const std::int32_t report_unit = RS.LUNMSG;  // the unit in force before this call
  ierr = 0;
  const auto fail = [&] {
    ierr = -1;
    report_illegal(report_unit, nchlin, ncmtch, lunrd);
  };
  if (nchlin < 1 || nchlin > kMaxLine) return fail();
  if (RS.NCHLIN != nchlin) RS.raw_blank_from = 0;
  RS.NCHLIN = nchlin;
  if (ncmtch < 1) return fail();
  RS.NCMTCH = ncmtch;
  if (lunrd < 0 && lunrd != kMemoryUnit) return fail();
  RS.LUNRD = lunrd;
  RS.LUNMSG = lunmsg;
  RS.LUNECH = lunech;
  RS.is_letter.fill(false);
  for (std::size_t i = 0; i < kLetters.size(); ++i) {
    RS.ALPUPP[i + 1] = kLetters[i];
    RS.is_letter[static_cast<unsigned char>(kLetters[i])] = true;
  }
  RS.CHCOL1 = '*';
  RS.CHDELM = ',';
  RS.RVAL = 0.0;
  RS.NEOF = 0;
  RS.IVAL = 0;
  RS.IACCU = 0;
  RS.CHBLNK = ' ';
  RS.MXEOF = 0;
  RS.ISTAT = 0;
  RS.NLINRD = 0;
  RS.LTXITM = 0;
  RS.IDIGIT = 0;
  RS.IUPCAS = 1;
  RS.IEXPO = 0;
  RS.CHCMT = '!';
  RS.CHCUR = RS.CHBLNK;
  for (std::int32_t i = 1; i <= kWordMax; ++i) RS.TXTITM[static_cast<std::size_t>(i)] = RS.CHBLNK;
}

void INIFII(std::int32_t lunrd, std::int32_t luncon, std::int32_t& ierr) {
  if (lunrd > 0 || lunrd == kMemoryUnit) {
    // The echo is off unless the console is standard output (0): minus the console's magnitude,
    // written so that no negation can overflow.
    const std::int32_t echo = luncon > 0 ? -luncon : luncon;
    std::int32_t status = 0;
    RDINIT(132, 8, lunrd, luncon, echo, status);
    if (status != 0) return;
    RDSET(1, kSetMxeof);
    RDCOL1("'");
    RDSET(lunrd, kSetLunrd);
    RDREW();
    return;
  }
  write_message(luncon, "");
  write_message(luncon, "  *** ERROR IN INIFII ***");
  if (ierr > INT32_MIN) --ierr;
}

void RDSET(std::int32_t value, std::int32_t code) {
  switch (code) {
    case kSetLunrd:
      RS.LUNRD = value;
      break;
    case kSetLunmsg:
      RS.LUNMSG = value;
      break;
    case kSetLunech:
      RS.LUNECH = value;
      break;
    case kSetIupcas:
      RS.IUPCAS = value;
      break;
    case kSetMxeof:
      RS.MXEOF = value;
      break;
    case kSetNeof:
      RS.NEOF = value;
      break;
    case kSetNchlin: {
      // The fetch needs at least one column: the sentinel goes to NCHLIN+1.
      const std::int32_t n = value > kMaxLine ? kMaxLine : (value < 1 ? 1 : value);
      if (n != RS.NCHLIN) RS.raw_blank_from = 0;
      RS.NCHLIN = n;
      break;
    }
    case kSetNcmtch:
      RS.NCMTCH = value <= 0 ? 1 : value;
      break;
    default:
      break;
  }
}

std::int32_t RDGET(std::int32_t code) {
  switch (code) {
    case kGetIpos:
      return RS.IPOS;
    case kGetNchlin:
      return RS.NCHLIN;
    case kGetNcmtch:
      return RS.NCMTCH;
    case kGetIupcas:
      return RS.IUPCAS;
    case kGetLunrd:
      return RS.LUNRD;
    case kGetLunmsg:
      return RS.LUNMSG;
    case kGetLunech:
      return RS.LUNECH;
    case kGetMxeof:
      return RS.MXEOF;
    case kGetNlinrd:
      return RS.NLINRD;
    case kGetLenlin:
      return RS.LENLIN;
    default:
      return 0;
  }
}

void RDCOL1(std::string_view text) {
  if (!text.empty()) RS.CHCOL1 = text.front();
}

void RDREW() {
  if (RS.LUNRD < 0) {
    RS.MEMPOS = 0;
    RS.MEMEND = 0;
    return;
  }
  // A failed rewind (a pipe already read from) leaves the unit where it is; the next fetch
  // simply goes on from there.
  const std::int32_t unit = RS.LUNRD == 0 ? io::kKeyboard : RS.LUNRD;
  static_cast<void>(io::rewind_unit(unit));
}

}  // namespace kud

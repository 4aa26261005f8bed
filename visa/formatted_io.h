#pragma once
// The format strings of viPrintf and viScanf: C's conversions, and VISA's comma-separated arrays
// ("%,5d", "%,#lf") and binary blocks ("%5b" as an IEEE 488.2 definite length block, "%5y" as raw bytes).
//
// Printing: flags - + space # 0, width and precision (also "*"), the sizes hh h l ll L, and the
// conversions d i o u x X c s f F e E g G a A %. An array or block count is a number, "*" (an int
// argument) or "#" (an int argument too). Block elements are bytes, or with h l ll z Z 16-, 32- and
// 64-bit integers, floats and doubles, big endian unless "!ol" asks for little endian.
//
// Scanning: white space matches any white space, other characters themselves; conversions d i o u x X
// (sizes hh h l ll), f e g E G (l for double, L for long double), c, s, [set], n, %, "*" to skip, and VISA's
// t (the rest of the message, up to and with END), T (up to and with the termination character), arrays
// and blocks. An array or block count "#" is a pointer to an int: the most to read on the way in, what was
// read on the way out.

#include <cstdarg>
#include <string>

#include "visa/visa.h"

namespace pgx::visa {

// Appends the formatted text to `out`. VI_ERROR_INV_FMT for a malformed format, VI_ERROR_NSUP_FMT for a
// conversion this library does not do.
ViStatus format_text(const char* format, va_list* args, std::string& out);

// Where scanning takes its bytes from.
class ScanSource {
 public:
  virtual ~ScanSource() = default;
  // The next byte, or -1 when the message (or the text) has ended, or on a failure (see status()).
  virtual int next() = 0;
  // Gives back the byte next() returned last.
  virtual void back() = 0;
  // Whether the byte returned last was the last one of its message (END).
  virtual bool ended() const = 0;
  // The failure that ended the data early (VI_SUCCESS when none).
  virtual ViStatus status() const { return VI_SUCCESS; }
};

// Scans per `format`, storing through the pointers in `args`. VI_SUCCESS when the whole format matched,
// VI_ERROR_INV_FMT or VI_ERROR_NSUP_FMT for a format it cannot follow, or the source's failure.
ViStatus scan_text(const char* format, va_list* args, ScanSource& in, ViByte termchar);

}  // namespace pgx::visa

// How the host's configuration tree turns an element's text into the values
// the plug-in asks for.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lanfeed::host {

// The value of an element: its text content without the blanks (space, tab,
// CR, LF) that surround it, so that a value written on its own indented line
// reads the same as one written inline.
std::string TrimValue(std::string_view text);

// The text as a decimal integer, the way the C library's conversion reads
// it: blanks are skipped, then an optional sign, then the leading decimal
// digits; whatever follows them is ignored. Text without leading digits
// ("", "abc", "-", "0x10" after its 0) gives what its digits say, so
// non-numeric text gives 0. Values beyond the 32-bit range saturate to
// INT32_MIN or INT32_MAX, so 99999999999 reads as 2147483647 and falls back
// like any other out-of-range port.
int32_t ParseDecimalInt32(std::string_view text);

}  // namespace lanfeed::host

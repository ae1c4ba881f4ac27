// UTF-16 text as the device uses it: wchar_t on Windows, char16_t elsewhere.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace lanfeed {

#if defined(_WIN32)
using WChar = wchar_t;
#define LF_TEXT(s) L##s
#else
using WChar = char16_t;
#define LF_TEXT(s) u##s
#endif

static_assert(sizeof(WChar) == 2, "device text is UTF-16");

using WString = std::basic_string<WChar>;
using WStringView = std::basic_string_view<WChar>;

// Path buffers on the device hold 260 wide characters, terminator included.
inline constexpr std::size_t kMaxPath = 260;

// Characters before the terminating NUL; 0 for a null pointer.
std::size_t WStrLen(const WChar* text);

// Copies `source` with its NUL into `dest` of `capacity` characters. Returns
// true when the whole text fitted. When it does not fit, `dest` receives the
// truncated text, still terminated. Nothing is written when `capacity` is 0 or
// `dest` is null. A null `source` counts as the empty text.
bool WStrCopy(WChar* dest, std::size_t capacity, const WChar* source);

// UTF-8 <-> UTF-16. Invalid input sequences become U+FFFD; unpaired
// surrogates are written as U+FFFD in UTF-8.
std::string ToUtf8(WStringView text);
WString FromUtf8(std::string_view text);

// True when `text` is well-formed UTF-8, the input FromUtf8 converts without
// a U+FFFD of its own: shortest forms only, no UTF-16 surrogates (U+D800 to
// U+DFFF), nothing above U+10FFFF.
bool IsValidUtf8(std::string_view text);

// A copy of `text` with its NUL on the heap (free it with delete[]), made
// with the non-throwing allocation; null when memory runs out. A null `text`
// counts as the empty text.
WChar* WStrDup(const WChar* text);

// Upper-cases the ASCII letters of `text` in place (the device's CharUpper on
// the characters the setup code compares).
void WToUpperAscii(WChar* text);

}  // namespace lanfeed

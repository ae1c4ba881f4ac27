// The log-line formatter: printf-style with the Windows wide-character
// conversion rules, identical on every backend.
//
//   %d, %i  signed decimal of an integer argument
//   %u      unsigned decimal of an integer argument
//   %s      UTF-16 string (const WChar*); a null pointer prints "(null)"
//   %S      narrow string (const char*);  a null pointer prints "(null)"
//   %%      one percent sign
//
// Output goes into a caller's buffer of `capacity` wide characters. The text is
// cut at capacity - 1 characters and always terminated; nothing is written
// past the buffer. When the format is a literal, FormatText checks at compile
// time that every conversion matches the type of its argument and that the
// counts agree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "platform/text.h"

namespace lanfeed {

// Log lines are formatted into buffers of this many wide characters.
inline constexpr std::size_t kLogLineCapacity = 520;
using LogLineBuffer = WChar[kLogLineCapacity];

// One type-erased argument of the formatter.
struct FormatArg {
  enum class Kind { kInt, kWide, kNarrow };
  Kind kind;
  long long integer = 0;
  const WChar* wide = nullptr;
  const char* narrow = nullptr;

  template <typename T, typename = std::enable_if_t<std::is_integral_v<T> || std::is_enum_v<T>>>
  constexpr FormatArg(T value) : kind(Kind::kInt), integer(static_cast<long long>(value)) {}
  constexpr FormatArg(const WChar* text) : kind(Kind::kWide), wide(text) {}
  constexpr FormatArg(WChar* text) : kind(Kind::kWide), wide(text) {}
  constexpr FormatArg(const char* text) : kind(Kind::kNarrow), narrow(text) {}
  constexpr FormatArg(char* text) : kind(Kind::kNarrow), narrow(text) {}
};

// Formats with an argument array. Returns the number of characters written
// (terminator excluded), or -1 when the output was cut to fit. A conversion
// whose argument is missing or of the wrong kind is written literally.
int FormatTextArgs(WChar* buffer, std::size_t capacity, const WChar* format,
                   const FormatArg* args, std::size_t count);

namespace format_detail {

template <typename T>
constexpr FormatArg::Kind KindOf() {
  using U = std::remove_cv_t<std::remove_reference_t<T>>;
  if constexpr (std::is_integral_v<U> || std::is_enum_v<U>) {
    return FormatArg::Kind::kInt;
  } else if constexpr (std::is_convertible_v<U, const WChar*>) {
    return FormatArg::Kind::kWide;
  } else {
    static_assert(std::is_convertible_v<U, const char*>, "unsupported format argument");
    return FormatArg::Kind::kNarrow;
  }
}

// Never defined: reaching one while the compiler evaluates the check is the
// error, and the compiler's message names the function, which says what is
// wrong with the format.
void FormatHasMoreConversionsThanArguments();
void FormatHasMoreArgumentsThanConversions();
void FormatConversionIsNotSupported();
void FormatArgumentDoesNotMatchItsConversion();

template <typename... Args>
struct CheckedFormat {
  const WChar* text;
  consteval CheckedFormat(const WChar* format) : text(format) {
    constexpr FormatArg::Kind kinds[] = {KindOf<Args>()..., FormatArg::Kind::kInt};
    std::size_t used = 0;
    for (const WChar* p = format; *p != 0; ++p) {
      if (*p != '%') continue;
      ++p;
      if (*p == '%') continue;
      if (used >= sizeof...(Args)) FormatHasMoreConversionsThanArguments();
      FormatArg::Kind want;
      switch (*p) {
        case 'd': case 'i': case 'u': want = FormatArg::Kind::kInt; break;
        case 's': want = FormatArg::Kind::kWide; break;
        case 'S': want = FormatArg::Kind::kNarrow; break;
        default: FormatConversionIsNotSupported(); want = FormatArg::Kind::kInt;
      }
      if (kinds[used] != want) FormatArgumentDoesNotMatchItsConversion();
      ++used;
    }
    if (used != sizeof...(Args)) FormatHasMoreArgumentsThanConversions();
  }
};

}  // namespace format_detail

// Type-checked formatting into a buffer of `capacity` characters.
template <typename... Args>
int FormatText(WChar* buffer, std::size_t capacity,
               format_detail::CheckedFormat<std::type_identity_t<Args>...> format,
               const Args&... args) {
  const FormatArg list[] = {FormatArg(args)..., FormatArg(0)};
  return FormatTextArgs(buffer, capacity, format.text, list, sizeof...(Args));
}

// Type-checked formatting into a fixed-size array (usually a LogLineBuffer).
template <std::size_t N, typename... Args>
int FormatLine(WChar (&buffer)[N],
               format_detail::CheckedFormat<std::type_identity_t<Args>...> format,
               const Args&... args) {
  const FormatArg list[] = {FormatArg(args)..., FormatArg(0)};
  return FormatTextArgs(buffer, N, format.text, list, sizeof...(Args));
}

}  // namespace lanfeed

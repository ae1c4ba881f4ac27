// The UTF-8 conversions of platform/text.h. A file of their own: they build
// standard strings, which the host programs and the tests use and the device
// libraries never link.
#include "platform/text.h"

namespace lanfeed {

namespace {
void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}
}  // namespace

std::string ToUtf8(WStringView text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = static_cast<char16_t>(text[i]);
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
      char32_t d = static_cast<char16_t>(text[i + 1]);
      if (d >= 0xDC00 && d <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (d - 0xDC00));
        ++i;
        continue;
      }
    }
    if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;
    AppendUtf8(out, c);
  }
  return out;
}

namespace {
// Reads the UTF-8 sequence that starts at text[i] into `*cp` and returns its
// length. Returns 0 when the bytes there are not a sequence (a stray
// continuation byte, a lead byte 0xF8 to 0xFF, a missing continuation byte);
// a sequence that is one but not well-formed (an overlong form, a UTF-16
// surrogate, above U+10FFFF) gets its length and `*cp` kNotAScalar.
constexpr char32_t kNotAScalar = 0xFFFFFFFF;

std::size_t DecodeUtf8(std::string_view text, std::size_t i, char32_t* cp) {
  unsigned char b = static_cast<unsigned char>(text[i]);
  char32_t code;
  std::size_t extra;
  if (b < 0x80) { *cp = b; return 1; }
  else if ((b & 0xE0) == 0xC0) { code = b & 0x1F; extra = 1; }
  else if ((b & 0xF0) == 0xE0) { code = b & 0x0F; extra = 2; }
  else if ((b & 0xF8) == 0xF0) { code = b & 0x07; extra = 3; }
  else return 0;
  for (std::size_t k = 1; k <= extra; ++k) {
    if (i + k >= text.size()) return 0;
    unsigned char cb = static_cast<unsigned char>(text[i + k]);
    if ((cb & 0xC0) != 0x80) return 0;
    code = (code << 6) | (cb & 0x3F);
  }
  static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
  bool scalar = code >= kMin[extra] && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF);
  *cp = scalar ? code : kNotAScalar;
  return extra + 1;
}
}  // namespace

WString FromUtf8(std::string_view text) {
  WString out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    char32_t cp;
    std::size_t length = DecodeUtf8(text, i, &cp);
    i += length == 0 ? 1 : length;
    if (length == 0 || cp == kNotAScalar) {
      out += static_cast<WChar>(0xFFFD);
    } else if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<WChar>(0xD800 + (cp >> 10));
      out += static_cast<WChar>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<WChar>(cp);
    }
  }
  return out;
}

bool IsValidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    char32_t cp;
    std::size_t length = DecodeUtf8(text, i, &cp);
    if (length == 0 || cp == kNotAScalar) return false;
    i += length;
  }
  return true;
}

}  // namespace lanfeed

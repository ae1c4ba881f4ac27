#include "host/config_value.h"

#include <cstdint>

namespace lanfeed::host {

namespace {
bool IsXmlBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsCBlank(char c) { return IsXmlBlank(c) || c == '\v' || c == '\f'; }
}  // namespace

std::string TrimValue(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsXmlBlank(text[begin])) ++begin;
  while (end > begin && IsXmlBlank(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

int32_t ParseDecimalInt32(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsCBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // Accumulate the magnitude up to one past INT32_MAX; beyond that only the
  // sign matters.
  constexpr int64_t kLimit = int64_t{INT32_MAX} + 1;
  int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > kLimit) magnitude = kLimit;
  }
  if (negative) return static_cast<int32_t>(-magnitude);  // -2^31 at the limit
  return magnitude >= kLimit ? INT32_MAX : static_cast<int32_t>(magnitude);
}

}  // namespace lanfeed::host

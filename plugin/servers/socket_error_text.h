// Windows Sockets error codes as the short English sentences that end every
// log line about a failed socket call.
//
// The log texts of the servers, these sentences and the lines that the
// servers and client connections format, are a contract with the logs
// already stored and the tools that read them. They stay exactly as they
// are, spelling and grammar included ("incomming", "Closeing", "establising",
// "Failed to initialized", "Successfully bind", "is time out"): do not
// correct them. The server tests pin them word for word.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/text.h"

namespace lanfeed {

// Buffers for error texts hold this many wide characters.
inline constexpr std::size_t kSocketErrorTextCapacity = 260;

// Copies the sentence for `code` ("Error undefined." for a code without one of
// its own) into `buffer` of `capacity` wide characters, cut to fit and always
// terminated. Writes nothing when `buffer` is null or `capacity` is 0.
// Stateless and thread-safe.
void GetSocketErrorText(int32_t code, WChar* buffer, std::size_t capacity);

// The sentence for one code in a buffer of its own, ready for the %s of a
// log line: `SocketErrorText error(SocketLastError());` right after the call
// that failed.
struct SocketErrorText {
  explicit SocketErrorText(int32_t code) { GetSocketErrorText(code, text, kSocketErrorTextCapacity); }
  WChar text[kSocketErrorTextCapacity];
};

}  // namespace lanfeed

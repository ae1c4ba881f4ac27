// The log lines for refused senders (a TCP connection closed at once, a UDP
// datagram dropped), held to about one line a second for each reason. A
// refusal that comes within a second of the last line of its reason is
// counted, and the next line of that reason says how many refusals it
// stands for: the one it names and those counted since the line before.
// The last count is written once its second has passed (the serve loop
// wakes for it, see MsUntilDue) or when the serve loop ends.
//
// Threads: the serve loop's only; no lock. Nothing here allocates; a
// refusal costs one clock read, and MsUntilDue and WriteDue touch no clock
// while nothing is counted.
#pragma once

#include <cstdint>

#include "platform/format.h"
#include "plugin/config/net_address.h"

namespace lanfeed {

enum RefusalReason : int32_t {
  kRefusedNotAllowed = 0,      // not on the allow-list
  kRefusedTooManyClients = 1,  // MaxClients reached
  kRefusedTooManyFromPeer = 2, // MaxClientsPerPeer reached for its address
  kRefusalReasons = 3,
};

// A refusal line: the port (%d), the peer's address (%S) and the reason
// (%s); the counted form adds the number of refusals it stands for (%d).
struct RefusalLines {
  format_detail::CheckedFormat<int32_t, const char*, const WChar*> single;
  format_detail::CheckedFormat<int32_t, const char*, const WChar*, int32_t> counted;
};

// Lines written at most once per this many milliseconds for each reason.
inline constexpr uint64_t kRefusalLineIntervalMs = 1000;

class RefusalLog {
 public:
  explicit RefusalLog(const RefusalLines& lines) : lines_(lines) {}
  RefusalLog(const RefusalLog&) = delete;
  RefusalLog& operator=(const RefusalLog&) = delete;

  // One refusal of `peer` (its address text) for `reason`, on `port`.
  void Refused(RefusalReason reason, const char* peer, int32_t port);
  // Milliseconds until a counted refusal is due to be written; -1 when
  // nothing is counted (the serve loop then waits without limit, as ever).
  int64_t MsUntilDue() const;
  // Writes the lines whose second has passed.
  void WriteDue(int32_t port);
  // Writes every counted refusal now (the serve loop is ending).
  void WriteAll(int32_t port);

 private:
  struct Kind {
    uint64_t lastLineMs = 0;
    bool written = false;
    int32_t counted = 0;
    char peer[kNetAddressTextCapacity] = {};
  };
  void Write(RefusalReason reason, int32_t port, uint64_t now);

  const RefusalLines& lines_;
  Kind kinds_[kRefusalReasons];
  int32_t countedKinds_ = 0;  // kinds with a count not yet written
};

}  // namespace lanfeed

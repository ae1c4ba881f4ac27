#include "plugin/servers/refusal_log.h"

#include <cstring>

#include "platform/thread.h"
#include "plugin/host_services.h"
#include "plugin/input_plugin.h"

namespace lanfeed {

namespace {
const WChar* ReasonText(RefusalReason reason) {
  switch (reason) {
    case kRefusedNotAllowed: return LF_TEXT("Not an allowed peer.");
    case kRefusedTooManyClients: return LF_TEXT("Too many clients.");
    case kRefusedTooManyFromPeer: return LF_TEXT("Too many clients from this peer.");
    default: return LF_TEXT("");
  }
}
}  // namespace

void RefusalLog::Refused(RefusalReason reason, const char* peer, int32_t port) {
  if (reason < 0 || reason >= kRefusalReasons) return;
  Kind& kind = kinds_[reason];
  if (kind.counted == 0) ++countedKinds_;
  ++kind.counted;
  const std::size_t length = std::strlen(peer);
  if (length < sizeof kind.peer) std::memcpy(kind.peer, peer, length + 1);
  const uint64_t now = MonotonicMs();
  if (!kind.written || now - kind.lastLineMs >= kRefusalLineIntervalMs) Write(reason, port, now);
}

int64_t RefusalLog::MsUntilDue() const {
  if (countedKinds_ == 0) return -1;
  const uint64_t now = MonotonicMs();
  int64_t soonest = -1;
  for (const Kind& kind : kinds_) {
    if (kind.counted == 0) continue;
    const uint64_t elapsed = now - kind.lastLineMs;
    const int64_t due = elapsed >= kRefusalLineIntervalMs ? 0 : static_cast<int64_t>(kRefusalLineIntervalMs - elapsed);
    if (soonest < 0 || due < soonest) soonest = due;
  }
  return soonest;
}

void RefusalLog::WriteDue(int32_t port) {
  if (countedKinds_ == 0) return;
  const uint64_t now = MonotonicMs();
  for (int32_t reason = 0; reason < kRefusalReasons; ++reason) {
    const Kind& kind = kinds_[reason];
    if (kind.counted > 0 && now - kind.lastLineMs >= kRefusalLineIntervalMs) {
      Write(static_cast<RefusalReason>(reason), port, now);
    }
  }
}

void RefusalLog::WriteAll(int32_t port) {
  if (countedKinds_ == 0) return;
  const uint64_t now = MonotonicMs();
  for (int32_t reason = 0; reason < kRefusalReasons; ++reason) {
    if (kinds_[reason].counted > 0) Write(static_cast<RefusalReason>(reason), port, now);
  }
}

void RefusalLog::Write(RefusalReason reason, int32_t port, uint64_t now) {
  Kind& kind = kinds_[reason];
  LogLineBuffer line;
  const char* peer = kind.peer;
  const WChar* why = ReasonText(reason);
  if (kind.counted > 1) {
    FormatLine(line, lines_.counted, port, peer, why, kind.counted);
  } else {
    FormatLine(line, lines_.single, port, peer, why);
  }
  kind.counted = 0;
  --countedKinds_;
  kind.lastLineMs = now;
  kind.written = true;
  LogCurrent(kLogError, line);
}

}  // namespace lanfeed

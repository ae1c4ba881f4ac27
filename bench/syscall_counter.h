// Counts the receive-path calls (poll, ppoll, select, pselect, epoll_wait,
// epoll_pwait, recv, recvfrom, recvmsg, recvmmsg, read, readv) that this
// process makes, the dlopen'ed plug-in's included: the program defines these
// functions itself (linked with exported symbols, so the plug-in's calls bind
// to them) and forwards each to the C library's.
//
// Counting is off until Enable; a thread that calls ExcludeThisThread (the
// driving thread, which reads its children's pipes) is never counted.
// Thread-safety: everything may be called from any thread.
#pragma once

#include <array>
#include <cstdint>

namespace bench {

enum class ReceiveCall {
  kPoll, kPpoll, kSelect, kPselect, kEpollWait, kEpollPwait,
  kRecv, kRecvfrom, kRecvmsg, kRecvmmsg, kRead, kReadv,
  kCount,
};
inline constexpr std::size_t kReceiveCallKinds = static_cast<std::size_t>(ReceiveCall::kCount);

const char* ReceiveCallName(std::size_t kind);

struct ReceiveCallCounts {
  std::array<uint64_t, kReceiveCallKinds> calls{};
  uint64_t total() const;
  ReceiveCallCounts operator-(const ReceiveCallCounts& earlier) const;
};

void EnableCallCounting();
void ExcludeThisThread();
ReceiveCallCounts CurrentCallCounts();

}  // namespace bench

// The reference host's HostServices as text: every call becomes one line
// handed to a sink (in lanfeed-host: stdout in text mode, stderr in raw mode;
// a vector in tests).
//
// Thread-safety: the plug-in calls Deliver, ShowFeedback, WriteLog and
// SetStatusProperty from its own threads, several at once. Lines are built
// outside the lock and handed to the sink one at a time under a mutex, so
// lines never interleave and the sink needs no locking of its own.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "plugin/config/feedback_params.h"
#include "plugin/host_services.h"

namespace lanfeed::host {

// Bytes shown of one delivery before the line is cut.
inline constexpr std::size_t kShownBytes = 200;

// `data` as readable text: printable ASCII and printable UTF-8 characters as
// they are; backslash and double quote escaped with a backslash; newline,
// carriage return and tab as \n, \r, \t; every other control byte (C0, DEL,
// the two bytes of a C1 control) and every byte of an invalid or cut UTF-8
// sequence as \xHH (lower-case hex). At most `limit` bytes are shown, never
// half a character; a cut text ends with "... (N more bytes)".
std::string EscapeBytes(const uint8_t* data, std::size_t length, std::size_t limit = kShownBytes);

// The local time for the text output's lines: "2024-05-01 09:30:00.123".
std::string TextTimestamp(std::chrono::system_clock::time_point time);

// The lines, one per call (lanfeed-host puts the time stamp before each):
//   deliver consumer=1 length=6 data="hello\n"
//   deliver consumer=1 length=6 peer=127.0.0.1:53211 data="hello\n"  (sender shown)
//   feedback flags=0x3 beeper=on time=300 freq=3000 volume=0 led=on time=100 color=2
//            wave=off path=(none) vibrator=off time=0
//   log 3 <the text, verbatim>
//   status property=2 size=4 value=1 (listening)
// (the feedback line is one line; beeper/led/wave/vibrator on/off follow
// the flag bits).
class ConsoleHostServices final : public HostServices {
 public:
  using Sink = std::function<void(const std::string& line)>;
  explicit ConsoleHostServices(Sink sink);

  int32_t Deliver(const InputDataRecord* record) override;
  int32_t ShowFeedback(const FeedbackParams* params) override;
  int32_t WriteLog(int32_t level, const WChar* text) override;
  int32_t SetStatusProperty(int32_t property, int32_t size, const void* value) override;

  // Writes a line of the host's own, serialised with the plug-in's lines.
  void Print(const std::string& line);

  // The one place where a delivery becomes a text line (JsonDelivery is its
  // JSON counterpart): what the host learns about a block goes here. With a
  // `peer` (not empty), the line names the sender.
  static std::string DescribeDelivery(const InputDataRecord& record, std::string_view peer = {});
  static std::string DescribeFeedback(const FeedbackParams& params);
  static std::string DescribeStatus(int32_t property, int32_t size, const void* value);

 private:
  std::mutex mutex_;
  Sink sink_;
};

}  // namespace lanfeed::host

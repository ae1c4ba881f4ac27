// The host's events as JSON Lines: one JSON object per line, each with
// "time" (UTC, ISO 8601 with microseconds, e.g. "2024-05-01T09:30:00.123456Z")
// and "event":
//   {"time":...,"event":"deliver","consumer":1,"length":6,"peer":"127.0.0.1:53211","data_base64":"aGVsbG8K","data":"hello\n"}
//   {"time":...,"event":"deliver","consumer":1,"length":2,"data_base64":"/wA="}
//   {"time":...,"event":"feedback","flags":1,"led_time":0,"led_color":0,"beeper_time":300,
//    "beeper_freq":3000,"beeper_volume":0,"wave_file":null,"vibrator_time":0}
//   {"time":...,"event":"log","level":3,"text":"..."}
//   {"time":...,"event":"status","property":2,"value":1}
//   {"time":...,"event":"repeated","count":990,"level":1,"text":"..."}
// ("repeated": that many more copies of the log line with this level and
// text came and were not written one by one; see RepeatedLines.)
// A delivery carries its whole data as "data_base64", always, and also as
// "data" when the block is valid UTF-8 (a block that ends or starts inside a
// multi-byte character is not); "peer", its sender, only when known. "wave_file" is the path or null; a status
// value that is not a 32-bit integer is null. Lines end with "\n" and hold no
// other newline.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "plugin/config/feedback_params.h"
#include "plugin/host_services.h"

namespace lanfeed::host {

// Standard base64 (RFC 4648, "+/" and "=" padding).
std::string Base64(std::string_view bytes);

// "YYYY-MM-DDTHH:MM:SS.uuuuuuZ" in UTC.
std::string Iso8601Utc(std::chrono::system_clock::time_point time);

std::string JsonDelivery(const std::string& time, const InputDataRecord& record, std::string_view peer = {});
std::string JsonFeedback(const std::string& time, const FeedbackParams& params);
std::string JsonLog(const std::string& time, int32_t level, const WChar* text);
std::string JsonRepeated(const std::string& time, uint64_t count, int32_t level, const std::string& text);
std::string JsonStatus(const std::string& time, int32_t property, int32_t size, const void* value);

}  // namespace lanfeed::host

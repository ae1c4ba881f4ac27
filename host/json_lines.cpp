#include "host/json_lines.h"

#include <cstdio>
#include <cstring>

#include <nlohmann/json.hpp>

#include "platform/text.h"

namespace lanfeed::host {

namespace {
using Json = nlohmann::ordered_json;  // "time" and "event" first, as written

Json Event(const std::string& time, const char* event) {
  Json json;
  json["time"] = time;
  json["event"] = event;
  return json;
}

std::string Line(const Json& json) {
  // Every string put in is valid UTF-8 (checked or converted), so the
  // strict handler never throws.
  return json.dump(-1, ' ', false, Json::error_handler_t::strict) + "\n";
}
}  // namespace

std::string Base64(std::string_view bytes) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    uint32_t v = static_cast<uint8_t>(bytes[i]) << 16 | static_cast<uint8_t>(bytes[i + 1]) << 8 |
                 static_cast<uint8_t>(bytes[i + 2]);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  std::size_t left = bytes.size() - i;
  if (left > 0) {
    uint32_t v = static_cast<uint8_t>(bytes[i]) << 16;
    if (left == 2) v |= static_cast<uint8_t>(bytes[i + 1]) << 8;
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += left == 2 ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string Iso8601Utc(std::chrono::system_clock::time_point time) {
  using namespace std::chrono;
  auto micros = floor<microseconds>(time);
  auto day = floor<days>(micros);
  year_month_day date{day};
  hh_mm_ss<microseconds> clock{micros - day};
  char text[40];
  std::snprintf(text, sizeof(text), "%04d-%02u-%02uT%02d:%02d:%02d.%06lldZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                static_cast<int>(clock.seconds().count()), static_cast<long long>(clock.subseconds().count()));
  return text;
}

std::string JsonDelivery(const std::string& time, const InputDataRecord& record, std::string_view peer) {
  Json json = Event(time, "deliver");
  json["consumer"] = record.Consumer;
  json["length"] = record.DataLength;
  if (!peer.empty() && IsValidUtf8(peer)) json["peer"] = peer;
  std::string_view data;
  if (record.Data != nullptr) data = {reinterpret_cast<const char*>(record.Data), record.DataLength};
  // data_base64 on every delivery, so that a reader has one field it can
  // rely on wherever a receive split the stream; data in addition when the
  // block on its own is valid UTF-8.
  json["data_base64"] = Base64(data);
  if (IsValidUtf8(data)) json["data"] = data;
  return Line(json);
}

std::string JsonFeedback(const std::string& time, const FeedbackParams& p) {
  Json json = Event(time, "feedback");
  json["flags"] = p.Flags;
  json["led_time"] = p.LEDTime;
  json["led_color"] = p.LEDColor;
  json["beeper_time"] = p.BeeperTime;
  json["beeper_freq"] = p.BeeperFreq;
  json["beeper_volume"] = p.BeeperVolume;
  json["wave_file"] = p.WaveFilePath != nullptr ? Json(ToUtf8(p.WaveFilePath)) : Json(nullptr);
  json["vibrator_time"] = p.VibratorTime;
  return Line(json);
}

std::string JsonLog(const std::string& time, int32_t level, const WChar* text) {
  Json json = Event(time, "log");
  json["level"] = level;
  json["text"] = text != nullptr ? ToUtf8(text) : std::string();
  return Line(json);
}

std::string JsonRepeated(const std::string& time, uint64_t count, int32_t level, const std::string& text) {
  Json json = Event(time, "repeated");
  json["count"] = count;
  json["level"] = level;
  json["text"] = text;  // from ToUtf8: valid UTF-8
  return Line(json);
}

std::string JsonStatus(const std::string& time, int32_t property, int32_t size, const void* value) {
  Json json = Event(time, "status");
  json["property"] = property;
  if (value != nullptr && size == static_cast<int32_t>(sizeof(int32_t))) {
    int32_t status;
    std::memcpy(&status, value, sizeof(status));
    json["value"] = status;
  } else {
    json["value"] = nullptr;
  }
  return Line(json);
}

}  // namespace lanfeed::host

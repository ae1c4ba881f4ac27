#include "host/console_host_services.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "platform/text.h"

namespace lanfeed::host {

namespace {
const char* OnOff(uint32_t flags, uint32_t bit) { return (flags & bit) != 0 ? "on" : "off"; }
}  // namespace

std::string EscapeBytes(const uint8_t* data, std::size_t length, std::size_t limit) {
  std::string out;
  std::size_t shown = length < limit ? length : limit;
  out.reserve(shown + 16);
  for (std::size_t i = 0; i < shown; ++i) {
    uint8_t c = data[i];
    if (c == '\\' || c == '"') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char hex[5];
      std::snprintf(hex, sizeof(hex), "\\x%02x", c);
      out += hex;
    }
  }
  if (shown < length) out += "... (" + std::to_string(length - shown) + " more bytes)";
  return out;
}

ConsoleHostServices::ConsoleHostServices(Sink sink) : sink_(std::move(sink)) {}

void ConsoleHostServices::Print(const std::string& line) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (sink_) sink_(line);
}

std::string ConsoleHostServices::DescribeDelivery(const InputDataRecord& record, std::string_view peer) {
  std::string line = "deliver consumer=" + std::to_string(record.Consumer) +
                     " length=" + std::to_string(record.DataLength);
  if (!peer.empty()) line += " peer=" + EscapeBytes(reinterpret_cast<const uint8_t*>(peer.data()), peer.size());
  line += " data=\"";
  if (record.Data != nullptr) line += EscapeBytes(record.Data, record.DataLength);
  return line + "\"";
}

std::string ConsoleHostServices::DescribeFeedback(const FeedbackParams& p) {
  char text[256];
  std::snprintf(text, sizeof(text),
                "feedback flags=0x%x beeper=%s time=%d freq=%d volume=%d led=%s time=%u color=%u wave=%s",
                static_cast<unsigned>(p.Flags), OnOff(p.Flags, kFeedbackBeeper), p.BeeperTime, p.BeeperFreq,
                p.BeeperVolume, OnOff(p.Flags, kFeedbackLed), static_cast<unsigned>(p.LEDTime),
                static_cast<unsigned>(p.LEDColor), OnOff(p.Flags, kFeedbackWaveFile));
  std::string line = text;
  line += p.WaveFilePath != nullptr ? " path=\"" + ToUtf8(p.WaveFilePath) + "\"" : " path=(none)";
  std::snprintf(text, sizeof(text), " vibrator=%s time=%d", OnOff(p.Flags, kFeedbackVibrator), p.VibratorTime);
  return line + text;
}

std::string ConsoleHostServices::DescribeStatus(int32_t property, int32_t size, const void* value) {
  std::string line = "status property=" + std::to_string(property) + " size=" + std::to_string(size);
  if (value == nullptr || size != static_cast<int32_t>(sizeof(int32_t))) return line + " value=(unreadable)";
  int32_t status;
  std::memcpy(&status, value, sizeof(status));
  line += " value=" + std::to_string(status);
  if (property == kListeningStatusProperty) line += status == 1 ? " (listening)" : " (not listening)";
  return line;
}

int32_t ConsoleHostServices::Deliver(const InputDataRecord* record) {
  if (record != nullptr) Print(DescribeDelivery(*record));
  return 0;
}

int32_t ConsoleHostServices::ShowFeedback(const FeedbackParams* params) {
  if (params != nullptr) Print(DescribeFeedback(*params));
  return 0;
}

int32_t ConsoleHostServices::WriteLog(int32_t level, const WChar* text) {
  Print("log " + std::to_string(level) + " " + (text != nullptr ? ToUtf8(text) : std::string()));
  return 0;
}

int32_t ConsoleHostServices::SetStatusProperty(int32_t property, int32_t size, const void* value) {
  Print(DescribeStatus(property, size, value));
  return 0;
}

}  // namespace lanfeed::host

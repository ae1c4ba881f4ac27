#include "host/console_host_services.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "host/host_os.h"
#include "platform/text.h"

namespace lanfeed::host {

namespace {
const char* OnOff(uint32_t flags, uint32_t bit) { return (flags & bit) != 0 ? "on" : "off"; }
}  // namespace

namespace {
// Bytes in the UTF-8 sequence that `lead` starts; 0 when it starts none.
std::size_t SequenceLength(uint8_t lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

void AppendHex(std::string* out, uint8_t c) {
  char hex[5];
  std::snprintf(hex, sizeof(hex), "\\x%02x", c);
  *out += hex;
}
}  // namespace

std::string EscapeBytes(const uint8_t* data, std::size_t length, std::size_t limit) {
  std::string out;
  std::size_t shown = length < limit ? length : limit;
  out.reserve(shown + 16);
  std::size_t i = 0;
  while (i < shown) {
    uint8_t c = data[i];
    if (c < 0x80) {
      switch (c) {
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
          if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
          } else {
            AppendHex(&out, c);
          }
      }
      ++i;
      continue;
    }
    // A whole, valid sequence is shown as the character, unless it is a C1
    // control (U+0080 to U+009F, C2 80..9F); anything else is escaped byte
    // by byte. A character that the cut would split goes with the cut part.
    std::size_t n = SequenceLength(c);
    bool valid = n > 1 && i + n <= length &&
                 IsValidUtf8(std::string_view(reinterpret_cast<const char*>(data + i), n));
    if (valid && i + n > shown) {
      shown = i;
      break;
    }
    if (valid && !(c == 0xC2 && data[i + 1] < 0xA0)) {
      out.append(reinterpret_cast<const char*>(data + i), n);
      i += n;
    } else {
      AppendHex(&out, c);
      ++i;
    }
  }
  if (shown < length) out += "... (" + std::to_string(length - shown) + " more bytes)";
  return out;
}

std::string TextTimestamp(std::chrono::system_clock::time_point time) {
  using namespace std::chrono;
  auto millis = floor<milliseconds>(time);
  std::time_t seconds = system_clock::to_time_t(floor<std::chrono::seconds>(millis));
  std::tm local{};
  if (!os::LocalTime(seconds, &local)) return "0000-00-00 00:00:00.000";
  char text[48];
  std::snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<int>(millis.time_since_epoch().count() % 1000));
  return text;
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

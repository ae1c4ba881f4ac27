#include "plugin/config/device_settings.h"

#include <cstdint>
#include <cstring>
#include <new>

#include "plugin/config/config_node.h"

namespace lanfeed {

void FreeWaveFilePath(FeedbackParams* feedback) {
  delete[] feedback->WaveFilePath;
  feedback->WaveFilePath = nullptr;
}

DeviceSettings::DeviceSettings()
    : Enabled(1), Protocol(kProtocolTcp), Reserved(0), Port(kDefaultPort),
      TCPTimeout(kDefaultTcpTimeout), Feedback{}, Framing(kFramingNone), FrameDelimiterLength(0),
      FrameDelimiter{}, FrameLength(0), BindAddress{}, AllowedPeerCount(0), AllowedPeers{}, MaxClients(0),
      MaxClientsPerPeer(0) {}

DeviceSettings::~DeviceSettings() { FreeWaveFilePath(&Feedback); }

DeviceSettings::DeviceSettings(const DeviceSettings& other) : DeviceSettings() { *this = other; }

DeviceSettings& DeviceSettings::operator=(const DeviceSettings& other) {
  if (this == &other) return *this;
  Enabled = other.Enabled;
  Protocol = other.Protocol;
  Reserved = other.Reserved;
  Port = other.Port;
  TCPTimeout = other.TCPTimeout;
  Framing = other.Framing;
  FrameDelimiterLength = other.FrameDelimiterLength;
  std::memcpy(FrameDelimiter, other.FrameDelimiter, sizeof(FrameDelimiter));
  FrameLength = other.FrameLength;
  BindAddress = other.BindAddress;
  AllowedPeerCount = other.AllowedPeerCount;
  std::memcpy(AllowedPeers, other.AllowedPeers, sizeof(AllowedPeers));
  MaxClients = other.MaxClients;
  MaxClientsPerPeer = other.MaxClientsPerPeer;
  FreeWaveFilePath(&Feedback);
  Feedback = other.Feedback;
  Feedback.WaveFilePath = nullptr;
  if (other.Feedback.WaveFilePath != nullptr) {
    std::size_t length = WStrLen(other.Feedback.WaveFilePath);
    // A path that cannot be allocated is left out: the record then holds no
    // path rather than a shared or dangling one.
    WChar* copy = new (std::nothrow) WChar[length + 1];
    if (copy != nullptr) {
      std::memcpy(copy, other.Feedback.WaveFilePath, (length + 1) * sizeof(WChar));
      Feedback.WaveFilePath = copy;
    }
  }
  return *this;
}

bool DeviceSettings::IsPeerAllowed(const NetAddress& peer) const {
  if (AllowedPeerCount <= 0) return true;
  for (int32_t i = 0; i < AllowedPeerCount && i < kMaxAllowedPeers; ++i) {
    if (PrefixMatches(AllowedPeers[i], peer)) return true;
  }
  return false;
}

void DeviceSettings::ResetFeedback() {
  FreeWaveFilePath(&Feedback);
  Feedback = FeedbackParams{};
  Feedback.Flags = kFeedbackBeeper;
  Feedback.BeeperTime = 300;
  Feedback.BeeperFreq = 3000;
  Feedback.BeeperVolume = 0;
}

// Reading the configuration tree. Every read follows one pattern: create a
// cursor on the element, position it on the child, read the value only when
// the child was found, and release the cursor on the same element, found or
// not. Nothing here logs or fails; a missing or unusable value keeps its
// default.
namespace {

// A cursor of `node`, released on `node` when the scope ends.
class ScopedCursor {
 public:
  explicit ScopedCursor(ConfigNode* node) : node_(node), cursor_(node->CreateCursor()) {}
  ~ScopedCursor() {
    if (cursor_ != nullptr) node_->ReleaseCursor(cursor_);
  }
  ScopedCursor(const ScopedCursor&) = delete;
  ScopedCursor& operator=(const ScopedCursor&) = delete;

  // Positions the cursor on the child `name`; true when it was found.
  bool Find(const char* name) { return cursor_ != nullptr && node_->FindChild(cursor_, name) != 0; }
  ConfigNode* get() const { return cursor_; }

 private:
  ConfigNode* node_;
  ConfigNode* cursor_;
};

// The value of the found child equals `text` exactly.
bool ValueEquals(ConfigNode* cursor, const char* text) {
  const char* value = cursor->GetValueA();
  return value != nullptr && std::strcmp(value, text) == 0;
}

// Reads the integer of the child `name` of `node` into `*out` when the child
// exists; otherwise `*out` keeps its value. Uses a cursor of its own.
void ReadChildInt(ConfigNode* node, const char* name, int32_t* out) {
  ScopedCursor cursor(node);
  if (cursor.Find(name)) *out = cursor.get()->GetValueInt();
}

// The Enabled child of `node` as a flag; `fallback` when it is missing.
bool ReadEnabled(ConfigNode* node, int32_t fallback) {
  int32_t enabled = fallback;
  ReadChildInt(node, "Enabled", &enabled);
  return enabled != 0;
}

// Largest value length whose buffer size in bytes, (n + 1) * 2, still fits
// the 32-bit size argument of CopyValueW.
constexpr int32_t kMaxPathValueLength = INT32_MAX / 2 - 1;

// Replaces the wave-file path with the value of the found File child. The
// record ends with the complete path or, when the value is empty or no
// buffer can be had, with none.
void ReadWaveFilePath(ConfigNode* cursor, FeedbackParams* feedback) {
  int32_t length = cursor->GetValueLength();
  if (length <= 0) return;
  FreeWaveFilePath(feedback);
  if (length > kMaxPathValueLength) return;
  // Zero-filled: a host that copies fewer characters than it reported
  // leaves zeros, never uninitialised text, behind them.
  WChar* path = new (std::nothrow) WChar[static_cast<std::size_t>(length) + 1]();
  if (path == nullptr) return;
  cursor->CopyValueW(path, (length + 1) * static_cast<int32_t>(sizeof(WChar)));
  path[length] = 0;
  feedback->WaveFilePath = path;
}

// 0 to 15 for a hex digit, else -1.
int32_t HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// FrameDelimiter: 1 to 8 bytes as pairs of hex digits ("03", "0D0A").
// Anything else leaves the record without a delimiter.
void ReadFrameDelimiter(ConfigNode* cursor, DeviceSettings* settings) {
  const char* text = cursor->GetValueA();
  if (text == nullptr) return;
  const std::size_t digits = std::strlen(text);
  if (digits == 0 || digits % 2 != 0 || digits > 2 * kMaxFrameDelimiterBytes) return;
  uint8_t bytes[kMaxFrameDelimiterBytes];
  for (std::size_t i = 0; i < digits; i += 2) {
    const int32_t high = HexDigit(text[i]);
    const int32_t low = HexDigit(text[i + 1]);
    if (high < 0 || low < 0) return;
    bytes[i / 2] = static_cast<uint8_t>(high * 16 + low);
  }
  std::memcpy(settings->FrameDelimiter, bytes, digits / 2);
  settings->FrameDelimiterLength = static_cast<int32_t>(digits / 2);
}

// Framing, FrameDelimiter and FrameLength, each with a cursor of its own. A
// rule that lacks its delimiter or length leaves the framing at none.
void ReadFraming(ConfigNode* device, DeviceSettings* settings) {
  int32_t mode = kFramingNone;
  {
    ScopedCursor cursor(device);
    if (cursor.Find("Framing")) {
      if (ValueEquals(cursor.get(), "line")) mode = kFramingLine;
      if (ValueEquals(cursor.get(), "delimiter")) mode = kFramingDelimiter;
      if (ValueEquals(cursor.get(), "fixed")) mode = kFramingFixed;
    }
  }
  {
    ScopedCursor cursor(device);
    if (cursor.Find("FrameDelimiter")) ReadFrameDelimiter(cursor.get(), settings);
  }
  {
    ScopedCursor cursor(device);
    if (cursor.Find("FrameLength") && cursor.get()->GetValueLength() != 0) {
      const int32_t length = cursor.get()->GetValueInt();
      if (length >= 1 && length <= kMaxFrameLength) settings->FrameLength = length;
    }
  }
  if (mode == kFramingDelimiter && settings->FrameDelimiterLength == 0) mode = kFramingNone;
  if (mode == kFramingFixed && settings->FrameLength == 0) mode = kFramingNone;
  settings->Framing = mode;
}

// The text of the found child without the blanks around it, as `*begin`
// and `*length`; false when there is no text.
bool TrimmedValue(ConfigNode* cursor, const char** begin, std::size_t* length) {
  const char* text = cursor->GetValueA();
  if (text == nullptr) return false;
  std::size_t end = std::strlen(text);
  std::size_t at = 0;
  while (at < end && (text[at] == ' ' || text[at] == '\t' || text[at] == '\r' || text[at] == '\n')) ++at;
  while (end > at && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\r' || text[end - 1] == '\n')) {
    --end;
  }
  *begin = text + at;
  *length = end - at;
  return end > at;
}

// MaxClients or MaxClientsPerPeer of the found child: 1 to
// kMaxClientsLimit, else 0 (no limit).
int32_t ClientLimit(ConfigNode* cursor) {
  if (cursor->GetValueLength() == 0) return 0;
  const int32_t limit = cursor->GetValueInt();
  return limit >= 1 && limit <= kMaxClientsLimit ? limit : 0;
}

// BindAddress, AllowedPeers, MaxClients and MaxClientsPerPeer, each with a
// cursor of its own. A value that is not usable leaves its setting absent.
void ReadPeerRules(ConfigNode* device, DeviceSettings* settings) {
  {
    ScopedCursor cursor(device);
    const char* text = nullptr;
    std::size_t length = 0;
    if (cursor.Find("BindAddress") && TrimmedValue(cursor.get(), &text, &length)) {
      NetAddress address{};
      if (ParseNetAddress(text, length, &address)) settings->BindAddress = address;
    }
  }
  {
    ScopedCursor cursor(device);
    if (cursor.Find("AllowedPeers")) {
      const int32_t count = ParseNetPrefixList(cursor.get()->GetValueA(), settings->AllowedPeers, kMaxAllowedPeers);
      if (count > 0) {
        settings->AllowedPeerCount = count;
      } else {
        std::memset(settings->AllowedPeers, 0, sizeof(settings->AllowedPeers));
      }
    }
  }
  {
    ScopedCursor cursor(device);
    if (cursor.Find("MaxClients")) settings->MaxClients = ClientLimit(cursor.get());
  }
  {
    ScopedCursor cursor(device);
    if (cursor.Find("MaxClientsPerPeer")) settings->MaxClientsPerPeer = ClientLimit(cursor.get());
  }
}

void ReadBeeper(ConfigNode* beeper, FeedbackParams* feedback) {
  bool enabled = ReadEnabled(beeper, 1);
  ReadChildInt(beeper, "Freq", &feedback->BeeperFreq);
  ReadChildInt(beeper, "Time", &feedback->BeeperTime);
  ReadChildInt(beeper, "Volume", &feedback->BeeperVolume);
  if (enabled) {
    feedback->Flags |= kFeedbackBeeper;
  } else {
    feedback->Flags = 0;
  }
}

void ReadLed(ConfigNode* led, FeedbackParams* feedback) {
  bool enabled = ReadEnabled(led, 0);
  {
    ScopedCursor cursor(led);
    if (cursor.Find("Time")) feedback->LEDTime = static_cast<uint16_t>(cursor.get()->GetValueInt());
  }
  {
    ScopedCursor cursor(led);
    if (cursor.Find("LEDColor")) {
      uint16_t color = static_cast<uint16_t>(cursor.get()->GetValueInt());
      if (color != 0) feedback->LEDColor = color;
    }
  }
  if (enabled) feedback->Flags |= kFeedbackLed;
}

void ReadWaveFile(ConfigNode* waveFile, FeedbackParams* feedback) {
  if (ReadEnabled(waveFile, 0)) feedback->Flags |= kFeedbackWaveFile;
  ScopedCursor cursor(waveFile);
  if (cursor.Find("File")) ReadWaveFilePath(cursor.get(), feedback);
}

void ReadVibrator(ConfigNode* vibrator, FeedbackParams* feedback) {
  bool enabled = ReadEnabled(vibrator, 0);
  ReadChildInt(vibrator, "Time", &feedback->VibratorTime);
  if (enabled) feedback->Flags |= kFeedbackVibrator;
}

}  // namespace

void DeviceSettings::ReadDevice(ConfigNode* node) {
  Port = kDefaultPort;
  Protocol = kProtocolTcp;
  TCPTimeout = kDefaultTcpTimeout;
  ResetFeedback();
  Framing = kFramingNone;
  FrameDelimiterLength = 0;
  std::memset(FrameDelimiter, 0, sizeof(FrameDelimiter));
  FrameLength = 0;
  BindAddress = NetAddress{};
  AllowedPeerCount = 0;
  std::memset(AllowedPeers, 0, sizeof(AllowedPeers));
  MaxClients = 0;
  MaxClientsPerPeer = 0;
  if (node == nullptr) return;

  int32_t found = 0;  // children of Device found among the five below
  {
    // Enabled, Protocol and Port share one cursor.
    ScopedCursor cursor(node);
    if (cursor.Find("Enabled")) {
      ++found;
      if (ValueEquals(cursor.get(), "0")) Enabled = 0;
    }
    if (cursor.Find("Protocol")) {
      ++found;
      bool udp = cursor.get()->GetValueLength() == 1 && ValueEquals(cursor.get(), "0");
      Protocol = udp ? kProtocolUdp : kProtocolTcp;
    }
    if (cursor.Find("Port")) {
      ++found;
      if (cursor.get()->GetValueLength() != 0) {
        int32_t port = cursor.get()->GetValueInt();
        Port = (port < 0 || port > 65535) ? kDefaultPort : port;
      }
    }
  }
  {
    ScopedCursor cursor(node);
    if (cursor.Find("Feedback")) {
      ++found;
      ReadFeedback(cursor.get());
    }
  }
  {
    ScopedCursor cursor(node);
    if (cursor.Find("TCPTimeout")) {
      ++found;
      if (cursor.get()->GetValueLength() != 0) {
        int32_t timeout = cursor.get()->GetValueInt();
        if (timeout >= 0) TCPTimeout = timeout;
      }
    }
  }
  // The framing keys and the peer rules are looked up only when Device
  // holds further children: a configuration without them is read with the
  // same lookups as ever.
  if (node->GetChildCount() > found) {
    ReadFraming(node, this);
    ReadPeerRules(node, this);
  }
}

void DeviceSettings::ReadFeedback(ConfigNode* node) {
  ResetFeedback();
  if (node == nullptr) return;
  ScopedCursor cursor(node);
  if (cursor.Find("OnDispatch")) ReadOnDispatch(cursor.get(), &Feedback);
}

void DeviceSettings::ReadOnDispatch(ConfigNode* node, FeedbackParams* feedback) {
  if (node == nullptr || feedback == nullptr) return;
  struct Part {
    const char* name;
    void (*read)(ConfigNode*, FeedbackParams*);
  };
  static constexpr Part kParts[] = {
      {"Beeper", ReadBeeper},
      {"LED", ReadLed},
      {"WaveFile", ReadWaveFile},
      {"Vibrator", ReadVibrator},
  };
  for (const Part& part : kParts) {
    ScopedCursor cursor(node);
    if (cursor.Find(part.name)) part.read(cursor.get(), feedback);
  }
}

}  // namespace lanfeed

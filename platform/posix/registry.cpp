// The file-backed registry stand-in; the format is described in
// platform/registry.h.
#include "platform/registry.h"

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/posix/device_path.h"

namespace lanfeed {

namespace {

struct Value {
  std::string name;  // UTF-8; empty for the default value
  WString text;
};

struct OpenKey {
  std::vector<Value> values;
};

std::string Trim(const std::string& line) {
  std::size_t begin = line.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return std::string();
  std::size_t end = line.find_last_not_of(" \t\r\n");
  return line.substr(begin, end - begin + 1);
}

constexpr const char* kRootVariable = "LANFEED_REGISTRY_ROOT";

// The two spellings of a hive in a section header.
struct Hive {
  const char* name;
  const char* abbreviation;
};
constexpr Hive kLocalMachine = {"HKEY_LOCAL_MACHINE", "HKLM"};
constexpr Hive kCurrentUser = {"HKEY_CURRENT_USER", "HKCU"};

// The key path of a section header under `hive`, without the hive and without
// a trailing backslash; false for other hives.
bool KeyPathIn(const Hive& hive, const std::string& header, std::string* path) {
  for (const char* spelling : {hive.name, hive.abbreviation}) {
    std::string prefix(spelling);
    if (header.size() < prefix.size() ||
        !posix::SameNameIgnoringCase(header.substr(0, prefix.size()), prefix)) {
      continue;
    }
    std::string rest = header.substr(prefix.size());
    if (!rest.empty() && rest.front() != '\\') continue;  // e.g. HKLMX
    while (!rest.empty() && rest.front() == '\\') rest.erase(0, 1);
    while (!rest.empty() && rest.back() == '\\') rest.pop_back();
    *path = rest;
    return true;
  }
  return false;
}

// Reads a quoted string at `pos` (which holds the opening quote); stops after
// the closing quote. \\ and \" are escapes; other backslashes are literal.
bool ReadQuoted(const std::string& line, std::size_t* pos, std::string* out) {
  if (*pos >= line.size() || line[*pos] != '"') return false;
  out->clear();
  for (std::size_t i = *pos + 1; i < line.size(); ++i) {
    char c = line[i];
    if (c == '\\' && i + 1 < line.size() && (line[i + 1] == '\\' || line[i + 1] == '"')) {
      *out += line[++i];
    } else if (c == '"') {
      *pos = i + 1;
      return true;
    } else {
      *out += c;
    }
  }
  return false;  // no closing quote
}

// Parses `"name"="text"` or `@="text"`. False for anything else, including
// values of other types.
bool ParseValue(const std::string& line, Value* value) {
  std::size_t pos = 0;
  std::string name;
  if (line[0] == '@') {
    pos = 1;
  } else if (!ReadQuoted(line, &pos, &name)) {
    return false;
  }
  while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
  if (pos >= line.size() || line[pos] != '=') return false;
  ++pos;
  while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
  std::string text;
  if (!ReadQuoted(line, &pos, &text)) return false;
  value->name = std::move(name);
  value->text = FromUtf8(text);
  return true;
}

// Collects the values of `key` (under HKEY_LOCAL_MACHINE, or under the test
// root when one is set) from the registry file; false when the file holds no
// section for it.
bool LoadKey(std::string key, std::vector<Value>* values) {
  const char* file = std::getenv("LANFEED_REGISTRY_FILE");
  if (file == nullptr || *file == 0) return false;
  const Hive* hive = &kLocalMachine;
  const char* root = std::getenv(kRootVariable);
  if (root != nullptr && *root != 0) {
    hive = &kCurrentUser;
    key = ToUtf8(kRegistryTestRoots) + "\\" + root + "\\" + key;
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  bool found = false;
  bool inside = false;
  std::string raw;
  while (std::getline(in, raw)) {
    std::string line = Trim(raw);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      std::string path;
      inside = line.back() == ']' && KeyPathIn(*hive, line.substr(1, line.size() - 2), &path) &&
               posix::SameNameIgnoringCase(path, key);
      found = found || inside;
      continue;
    }
    Value value;
    if (!inside || !ParseValue(line, &value)) continue;
    bool replaced = false;
    for (Value& existing : *values) {
      if (posix::SameNameIgnoringCase(existing.name, value.name)) {
        existing.text = value.text;
        replaced = true;
      }
    }
    if (!replaced) values->push_back(std::move(value));
  }
  return found;
}

}  // namespace

RegistryKey::~RegistryKey() { Close(); }

bool RegistryKey::OpenLocalMachine(const WChar* subkey, uint32_t access) {
  return posix::FailOnNoMemory(false, [&] {
    Close();
    if (subkey == nullptr) return false;
    std::string key = ToUtf8(WStringView(subkey, WStrLen(subkey)));
    while (!key.empty() && key.back() == '\\') key.pop_back();
    std::unique_ptr<OpenKey> open(new OpenKey);  // freed when LoadKey fails or throws
    if (!LoadKey(key, &open->values)) return false;
    handle_ = open.release();
    return true;
  });
}

bool RegistryKey::ReadString(const WChar* name, WChar* dest, std::size_t capacity) const {
  return posix::FailOnNoMemory(false, [&] {
    if (handle_ == nullptr || dest == nullptr) return false;
    std::string wanted = name == nullptr ? std::string() : ToUtf8(WStringView(name, WStrLen(name)));
    for (const Value& value : static_cast<const OpenKey*>(handle_)->values) {
      if (!posix::SameNameIgnoringCase(value.name, wanted)) continue;
      // As on Windows, the text ends at its first NUL.
      std::size_t length = WStrLen(value.text.c_str());
      if (length + 1 > capacity) return false;
      WStrCopy(dest, capacity, value.text.c_str());
      return true;
    }
    return false;
  });
}

void RegistryKey::Close() {
  delete static_cast<OpenKey*>(handle_);
  handle_ = nullptr;
}

bool SetRegistryRootForTesting(const WChar* name) {
  if (name == nullptr || *name == 0) return unsetenv(kRootVariable) == 0;
  return setenv(kRootVariable, ToUtf8(name).c_str(), 1) == 0;
}

}  // namespace lanfeed

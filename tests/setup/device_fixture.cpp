#include "device_fixture.h"

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "platform/files.h"
#include "platform/process.h"
#include "platform/registry.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace lanfeed::testing {

namespace fs = std::filesystem;

namespace {

std::atomic<int> g_live_fixtures{0};

std::string UniqueName() {
  static std::atomic<unsigned> counter{0};
  std::random_device random;
  std::ostringstream name;
  name << "lanfeed-setup-" << std::hex << random() << '-' << counter++;
  return name.str();
}

// The fixture's key for `key` below HKEY_CURRENT_USER.
WString TestKeyPath(const WString& root, WStringView key) {
  WString path = WString(kRegistryTestRoots) + LF_TEXT("\\") + root;
  if (!key.empty()) path += LF_TEXT("\\") + WString(key);
  return path;
}

WString Wide(const fs::path& path) {
#ifdef _WIN32
  return path.wstring();
#else
  return FromUtf8(path.string());
#endif
}

#ifndef _WIN32
bool SameKey(WStringView a, WStringView b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto fold = [](WChar c) { return (c >= 'a' && c <= 'z') ? static_cast<WChar>(c - 32) : c; };
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

// .reg escaping: backslash and quote.
std::string Escape(WStringView text) {
  std::string out;
  for (char c : ToUtf8(text)) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out;
}
#endif

}  // namespace

WString W(std::string_view utf8) { return FromUtf8(utf8); }
std::string U8(WStringView text) { return ToUtf8(text); }

fs::path ProgramFolder() {
  WChar path[4096];
  if (!ProgramFilePath(path, 4096)) return fs::current_path();
#ifdef _WIN32
  return fs::path(std::wstring(path)).parent_path();
#else
  std::string text = U8(path);
  for (char& c : text) {
    if (c == '\\') c = '/';
  }
  return fs::path(text).parent_path();
#endif
}

DeviceFixture::DeviceFixture() {
  if (g_live_fixtures.fetch_add(1) != 0) {
    g_live_fixtures.fetch_sub(1);
    throw std::logic_error("one DeviceFixture at a time: the test roots are process-wide");
  }
  const std::string name = UniqueName();
  root_ = fs::temp_directory_path() / name;
  registry_root_ = W(name);
  fs::create_directories(root_ / "device");
#ifndef _WIN32
  setenv("LANFEED_REGISTRY_FILE", (root_ / "registry.reg").c_str(), 1);
  WriteRegistryFile();
#endif
  if (!SetRegistryRootForTesting(registry_root_.c_str())) {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
    g_live_fixtures.fetch_sub(1);
    throw std::runtime_error("cannot set the registry's test root " + name);
  }
  SetDeviceRootForTesting(Wide(root_ / "device").c_str());
}

DeviceFixture::~DeviceFixture() {
  SetDeviceRootForTesting(nullptr);
  SetRegistryRootForTesting(nullptr);
#ifdef _WIN32
  RegDeleteTreeW(HKEY_CURRENT_USER, TestKeyPath(registry_root_, LF_TEXT("")).c_str());
  RegDeleteKeyW(HKEY_CURRENT_USER, kRegistryTestRoots);  // fails while other roots remain
#else
  unsetenv("LANFEED_REGISTRY_FILE");
#endif
  std::error_code ignored;
  fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(root_, ignored);
  g_live_fixtures.fetch_sub(1);
}

WString DeviceFixture::DevicePath(std::string_view relative) const {
  std::string text(relative);
  for (char& c : text) {
    if (c == '/') c = '\\';
  }
  return W("\\") + W(text);
}

WString DeviceFixture::ExternalPath(std::string_view relative) const {
#ifdef _WIN32
  return HostPath(relative).make_preferred().wstring();
#else
  return DevicePath(relative);
#endif
}

fs::path DeviceFixture::HostPath(std::string_view relative) const {
  return relative.empty() ? root_ / "device" : root_ / "device" / fs::path(std::string(relative));
}

void DeviceFixture::SetValue(WStringView key, WStringView name, WStringView value) {
#ifdef _WIN32
  HKEY handle = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, TestKeyPath(registry_root_, key).c_str(), 0, nullptr, 0,
                      KEY_ALL_ACCESS, nullptr, &handle, nullptr) != ERROR_SUCCESS) {
    throw std::runtime_error("cannot create registry key " + U8(key));
  }
  WString text(value);
  RegSetValueExW(handle, name.empty() ? nullptr : WString(name).c_str(), 0, REG_SZ,
                 reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(handle);
#else
  auto entry = keys_.begin();
  while (entry != keys_.end() && !SameKey(entry->first, key)) ++entry;
  if (entry == keys_.end()) entry = keys_.insert(keys_.end(), {WString(key), {}});
  entry->second.emplace_back(WString(name), WString(value));  // a later value wins
  WriteRegistryFile();
#endif
}

void DeviceFixture::RemoveKey(WStringView key) {
#ifdef _WIN32
  RegDeleteTreeW(HKEY_CURRENT_USER, TestKeyPath(registry_root_, key).c_str());
#else
  for (auto entry = keys_.begin(); entry != keys_.end(); ++entry) {
    if (SameKey(entry->first, key)) {
      keys_.erase(entry);
      break;
    }
  }
  WriteRegistryFile();
#endif
}

void DeviceFixture::WriteRegistryFile() const {
#ifndef _WIN32
  std::ofstream out(root_ / "registry.reg", std::ios::binary | std::ios::trunc);
  out << "Windows Registry Editor Version 5.00\n\n";
  for (const auto& [key, values] : keys_) {
    out << "[HKEY_CURRENT_USER\\" << U8(TestKeyPath(registry_root_, key)) << "]\n";
    for (const auto& [name, value] : values) {
      if (name.empty()) {
        out << "@=\"" << Escape(value) << "\"\n";
      } else {
        out << "\"" << Escape(name) << "\"=\"" << Escape(value) << "\"\n";
      }
    }
    out << "\n";
  }
#endif
}

void DeviceFixture::WriteFile(std::string_view relative, const std::string& content) const {
  fs::path path = HostPath(relative);
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

std::string DeviceFixture::ReadFile(std::string_view relative) const {
  std::ifstream in(HostPath(relative), std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

bool DeviceFixture::Exists(std::string_view relative) const {
  std::error_code ignored;
  return fs::exists(HostPath(relative), ignored);
}

void DeviceFixture::MakeFolder(std::string_view relative) const {
  fs::create_directories(HostPath(relative));
}

}  // namespace lanfeed::testing

// Finding an installed application's folder from the keys that the CAB
// installer writes under HKEY_LOCAL_MACHINE.
#pragma once

#include <cstddef>

#include "platform/text.h"

namespace lanfeed::setup {

inline constexpr const WChar* kCorvaneKey = LF_TEXT("Software\\Apps\\Veltrix Corvane");
inline constexpr const WChar* kPackageKey =
    LF_TEXT("Software\\Apps\\Veltrix LAN Feed Plugin for Corvane");

// Reads the folder from `key_path`: the value "InstallDir", or, when that
// cannot be read whole into 260 characters, the value "InstlDir". On success
// the folder is copied into `dest` of `capacity` wide characters. Fails, with
// `dest` untouched, when `dest` is null, `capacity` is 0, the key or both
// values are missing, or the folder and its terminator do not fit.
bool LookUpFolder(const WChar* key_path, WChar* dest, std::size_t capacity);

}  // namespace lanfeed::setup

// File and folder operations on Windows paths, with the Win32 results.
//
// Paths are Windows paths (UTF-16, backslashes). Windows: the Win32 calls.
// Elsewhere each path is mapped at this boundary: backslashes become slashes,
// a path that begins with a backslash is placed under the folder named by the
// environment variable LANFEED_DEVICE_ROOT (when set; otherwise under "/"),
// and every component is resolved without regard to ASCII letter case, as the
// device's file system does (an exact match wins; a missing component is kept
// as written). Drive letters get no special meaning there.
//
// Test root: SetDeviceRootForTesting(folder) places every rooted path (one
// that begins with a single backslash, as the device's paths do) under
// `folder`, so that a test touches only a folder it created, even where the
// code under test builds a path from an empty or wrong part:
// - Elsewhere it sets LANFEED_DEVICE_ROOT, which every copy of this layer in
//   the process reads, and the programs it starts inherit.
// - Windows: it holds for the calls of this module (a library loaded by a test
//   keeps its own copy of this layer); other paths, such as C:\... or
//   \\server\..., are used as they are.
// Without a test root, Windows paths reach the system unchanged.
//
// No call keeps a handle open after it returns. Thread-compatible.
#pragma once

#include <cstdint>

#include "platform/text.h"

namespace lanfeed {

inline constexpr uint32_t kFileAttributeReadOnly = 0x01;
inline constexpr uint32_t kFileAttributeDirectory = 0x10;
inline constexpr uint32_t kFileAttributeArchive = 0x20;
inline constexpr uint32_t kFileAttributeNormal = 0x80;

// CopyFile with overwriting: copies the file `source` onto `target`,
// replacing an existing file. Fails when the source is missing or a folder,
// or the target cannot be written (missing folder, target is a folder).
bool CopyFileOverwrite(const WChar* source, const WChar* target);

// DeleteFile: removes a file; fails for a folder or a missing path.
bool DeleteFileAt(const WChar* path);

// CreateDirectory without security attributes: fails when the path exists or
// its parent folder is missing.
bool CreateFolder(const WChar* path);

// RemoveDirectory: removes an empty folder; fails otherwise.
bool RemoveFolder(const WChar* path);

// The find-first-file query for one name (no wildcards are used by callers;
// the stand-in takes the name literally): on a match, stores the entry's
// attributes and returns true. The find handle is closed before returning.
bool FindFirstAttributes(const WChar* path, uint32_t* attributes);

// SetFileAttributes. The stand-in keeps only the read-only bit (as the
// owner's write permission); the call fails for a missing path.
bool SetAttributes(const WChar* path, uint32_t attributes);

// Sets the test root (a host folder; null or empty: no root).
void SetDeviceRootForTesting(const WChar* folder);

}  // namespace lanfeed

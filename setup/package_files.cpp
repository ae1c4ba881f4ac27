#include "setup/package_files.h"

#include "platform/files.h"

namespace lanfeed::setup {

namespace {

struct PackageFile {
  const WChar* source;         // below the package folder
  const WChar* target_folder;  // below Corvane's folder
  const WChar* target_name;
  bool ensure_folder;          // the last file relies on the one before
};

constexpr PackageFile kPackageFiles[] = {
    {LF_TEXT("\\LanFeedPlugin.dll"), LF_TEXT("\\Plugins"), LF_TEXT("\\LanFeedPlugin.dll"), true},
    {LF_TEXT("\\ui\\lanfeed.js"), LF_TEXT("\\CVUI"), LF_TEXT("\\lanfeed.js"), true},
    {LF_TEXT("\\ui\\cvui_lanfeed.xml"), LF_TEXT("\\CVUI"), LF_TEXT("\\cvui_lanfeed.xml"), false},
};

// Removal order of the installed files.
struct InstalledFile {
  const WChar* folder;
  const WChar* name;
};

constexpr InstalledFile kInstalledFiles[] = {
    {LF_TEXT("\\Plugins"), LF_TEXT("\\LanFeedPlugin.dll")},
    {LF_TEXT("\\CVUI"), LF_TEXT("\\cvui_lanfeed.xml")},
    {LF_TEXT("\\CVUI"), LF_TEXT("\\lanfeed.js")},
};

bool Append(WChar (&dest)[kMaxPath], std::size_t* length, const WChar* part) {
  if (part == nullptr) return true;
  for (; *part != 0; ++part) {
    if (*length + 1 >= kMaxPath) return false;  // no room left for the terminator
    dest[(*length)++] = *part;
  }
  dest[*length] = 0;
  return true;
}

}  // namespace

bool JoinPath(WChar (&dest)[kMaxPath], const WChar* first, const WChar* second,
              const WChar* third) {
  std::size_t length = 0;
  dest[0] = 0;
  return Append(dest, &length, first) && Append(dest, &length, second) &&
         Append(dest, &length, third);
}

void EnsureFolderExists(const WChar* folder) {
  uint32_t attributes = 0;
  if (FindFirstAttributes(folder, &attributes) && (attributes & kFileAttributeDirectory) != 0) {
    return;
  }
  CreateFolder(folder);
}

void MovePackageFiles(const WChar* package_folder, const WChar* corvane_folder) {
  if (WStrLen(package_folder) == 0 || WStrLen(corvane_folder) == 0) return;
  for (const PackageFile& file : kPackageFiles) {
    WChar source[kMaxPath];
    WChar folder[kMaxPath];
    WChar target[kMaxPath];
    if (!JoinPath(source, package_folder, file.source)) continue;
    if (!JoinPath(folder, corvane_folder, file.target_folder)) continue;
    if (file.ensure_folder) EnsureFolderExists(folder);
    if (!JoinPath(target, folder, file.target_name)) continue;
    if (CopyFileOverwrite(source, target)) DeleteFileAt(source);
  }
}

void DeleteInstalledFiles(const WChar* corvane_folder) {
  for (const InstalledFile& file : kInstalledFiles) {
    WChar path[kMaxPath];
    if (JoinPath(path, corvane_folder, file.folder, file.name)) DeleteFileAt(path);
  }
}

void ClearPackageFolder(const WChar* package_folder) {
  if (package_folder == nullptr) return;
  WChar path[kMaxPath];
  if (JoinPath(path, package_folder, LF_TEXT("\\LanFeedSetup.dll"))) DeleteFileAt(path);
  if (JoinPath(path, package_folder, LF_TEXT("\\UI"))) RemoveFolder(path);
  RemoveFolder(package_folder);
}

}  // namespace lanfeed::setup

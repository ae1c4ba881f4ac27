// Moving the plug-in's files between the package folder and Corvane's
// folders. Every file and folder operation is tried once and its failure is
// not reported: the next step runs. A path that would not fit its
// 260-character buffer makes only its own step fail; nothing is ever copied,
// deleted or created on a cut-off path.
#pragma once

#include <cstddef>

#include "platform/text.h"

namespace lanfeed::setup {

// Joins the parts into `dest` of kMaxPath characters. Returns false, leaving
// `dest` unspecified, when the result and its terminator do not fit.
bool JoinPath(WChar (&dest)[kMaxPath], const WChar* first, const WChar* second,
              const WChar* third = nullptr);

// Creates `folder` unless a find-first query shows a folder there. Whether
// the creation succeeds is not examined.
void EnsureFolderExists(const WChar* folder);

// Copies the three package files from `package_folder` into Corvane's
// "Plugins" and "CVUI" folders (created when missing), overwriting what is
// there, and deletes each source only after its copy succeeded. Does nothing
// when either folder is empty: there is no place to move from or to.
void MovePackageFiles(const WChar* package_folder, const WChar* corvane_folder);

// Deletes the three installed files from Corvane's folders; the folders stay.
void DeleteInstalledFiles(const WChar* corvane_folder);

// Deletes "LanFeedSetup.dll" in `package_folder`, removes its "UI" folder and
// then the folder itself; folders that still hold files stay. A null folder
// does nothing.
void ClearPackageFolder(const WChar* package_folder);

}  // namespace lanfeed::setup

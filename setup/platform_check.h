// Whether the library runs on Windows CE.
#pragma once

namespace lanfeed::setup {

// True when the platform-type text has a first blank and the rest after it is
// exactly "WinCE" (letter case counts: the system reports a fixed text, e.g.
// "PocketPC WinCE"). False when the platform cannot tell (desktop Windows).
bool IsWindowsCePlatform();

}  // namespace lanfeed::setup

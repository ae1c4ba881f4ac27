// The opaque window handle that crosses our interfaces: HWND on Windows, an
// opaque pointer of the same size elsewhere. Null means "no window".
#pragma once

#if defined(_WIN32)
struct HWND__;
namespace lanfeed {
using WindowHandle = HWND__*;
}
#else
namespace lanfeed {
struct OpaqueWindow;
using WindowHandle = OpaqueWindow*;
}  // namespace lanfeed
#endif

// The entry routine of the test-only forwarding DLLs (coredll.dll, ws2.dll):
// everything they export is forwarded, so they have nothing to set up.
#include <windows.h>

extern "C" BOOL WINAPI LanFeedDllEntry(HINSTANCE, DWORD, LPVOID) { return TRUE; }

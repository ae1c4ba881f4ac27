// A library built the way the device libraries are, with what the handheld
// lacks on purpose: a desktop-only import and a static constructor. The
// import check must report both (tests/support/CMakeLists.txt).
#include <windows.h>

namespace {
struct RunsAtLoad {
  RunsAtLoad() : tick(GetTickCount64()) {}
  ULONGLONG tick;
};
RunsAtLoad g_runsAtLoad;
}  // namespace

extern "C" __declspec(dllexport) ULONGLONG ProbeTick() { return g_runsAtLoad.tick + GetTickCount64(); }

extern "C" BOOL WINAPI LanFeedDllEntry(HINSTANCE, DWORD, LPVOID) { return TRUE; }

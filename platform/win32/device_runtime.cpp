// What the device libraries need of a C++ runtime, and nothing more; linked
// into the shipped Windows libraries only (cmake/lanfeed_device_library.cmake),
// which are built without exceptions or RTTI and linked without the compiler's
// runtime and startup code:
// - the library's entry routine, which runs no code at load and, at an
//   unload by FreeLibrary, frees the static state the platform layer
//   registered (platform/internal/unload.h);
// - the non-throwing allocation functions and the deallocation functions, on
//   the C runtime's malloc and free (the device's coredll exports both);
//   the throwing forms are not defined, so code that uses them fails to link;
// - the handler of a call to a pure virtual function, which is a programming
//   error: the library stops the process at once rather than run on.
#include <windows.h>

#include <cstdlib>
#include <new>

#include "platform/internal/unload.h"

// The tag of the non-throwing forms, which the compiler's runtime would
// otherwise define.
const std::nothrow_t std::nothrow{};

void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size != 0 ? size : 1); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size != 0 ? size : 1); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }

extern "C" void __cxa_pure_virtual() { __builtin_trap(); }

// At process exit (reserved non-null) the system reclaims everything and other
// threads may have been stopped anywhere, so nothing is freed then.
extern "C" BOOL WINAPI LanFeedDllEntry(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) lanfeed::platform_internal::RunUnloadFunctions();
  return TRUE;
}

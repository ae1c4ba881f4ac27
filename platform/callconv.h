// Calling conventions of entry points that foreign programs call.
#pragma once

// LF_STDCALL: the Win32 API convention (WINAPI), used by loaders that call a
// library's exports through their own declarations, such as the CAB
// installer's setup-library protocol. On x86-64 and outside Windows there is
// only one convention and the macro is empty.
#if defined(_WIN32)
#define LF_STDCALL __stdcall
#else
#define LF_STDCALL
#endif

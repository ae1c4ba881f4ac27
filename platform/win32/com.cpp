// Windows backend of the COM service: the calls behind com_common.cpp
// (internal/system_calls.h). posix/com.cpp is the stand-in elsewhere.
#include "platform/com.h"

#include <objbase.h>

#include "platform/internal/system_calls.h"

namespace lanfeed::system_calls {

// Mode 0 is COINIT_MULTITHREADED.
bool ComInitialize() { return SUCCEEDED(CoInitializeEx(nullptr, 0)); }

void ComUninitialize() { CoUninitialize(); }

}  // namespace lanfeed::system_calls

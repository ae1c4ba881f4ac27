// POSIX backend of the COM service: the calls behind com_common.cpp
// (internal/system_calls.h). win32/com.cpp is the Windows one.
#include "platform/com.h"

#include "platform/internal/system_calls.h"

namespace lanfeed::system_calls {

// No COM here: there is nothing to set up for the thread.
bool ComInitialize() { return true; }
void ComUninitialize() {}

}  // namespace lanfeed::system_calls

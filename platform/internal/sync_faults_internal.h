// The fault seams of the thread and event services, shared by their
// backends; tests arm them through thread.h and event.h.
#pragma once

namespace lanfeed::sync_internal {

// True when an injected failure is pending for Thread::Start; consumes it.
bool TakeThreadStartFault();
// True when an injected failure is pending for WaitForEither; consumes it.
bool TakeEventWaitFault();

}  // namespace lanfeed::sync_internal

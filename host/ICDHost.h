// Controls of the reference host library that a host program or a test uses; plug-ins never
// call these.
#pragma once

#include <set>
#include <string>

#include "ICDPlatform.h"

namespace ICDHost {

// When on, every call a plug-in makes into the host library prints one line on standard output
// beginning with "host: ", naming the call, the ICD, message, field and outcome. Off by default.
ICD_HOST_API void setTrace(bool on);
ICD_HOST_API bool traceEnabled();
// Writes one whole trace line ("host: " + text) when the trace is on.
ICD_HOST_API void trace(const std::string& text);

// The base consumeICDEvent refuses (answers false to) these event numbers; empty by default.
ICD_HOST_API void setRefusedEvents(std::set<unsigned int> events);

}  // namespace ICDHost

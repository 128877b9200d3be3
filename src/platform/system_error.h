#pragma once

#include <string>

namespace platform {

// A Windows error code in the system's own words, in the user's language, as
// one line ("Access is denied."); "" when the system has no text for it.
std::string describeSystemError(unsigned long error);

}  // namespace platform

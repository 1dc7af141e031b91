#pragma once
// The summary check of one dictionary voice shown in the main window: the database's data
// version against the index file and every binary file of the voice.
#include <string>

namespace mdlCheckDataVersion {

// The version text that means the dictionary folder does not exist.
inline constexpr const char* kNotInstalled = "NOREC";

struct Result {
    bool Completed = false;  // false: a failure stopped the check (Error says which)
    std::string Version;     // the database's version, or kNotInstalled
    bool Ok = false;
    std::string Message;     // what is inconsistent (Hebrew, file name on its own line)
    std::string Error;       // the failure's description when not completed
};

// Checks the voice under the installation's ApplicationPath. Opens the database at its start and
// releases it at its end; never raises.
Result CheckDataVersion(const std::string& voice);

}  // namespace mdlCheckDataVersion

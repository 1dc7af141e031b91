#include "mMDBConnection.h"

#include "EngineState.h"

namespace mMDBConnection {
int DbConnect(const std::string&) { return -1; }
void DbClose() {}
int LoadPrefixes(PrefixTable&, int) { return -1; }
void LookupWord(const std::string&, std::vector<PointedWords::Candidate>& candidates, const std::string&, bool& found, int) {
    candidates.clear();
    found = false;
}
}  // namespace mMDBConnection

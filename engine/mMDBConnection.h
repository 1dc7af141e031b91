#pragma once
// The lookup database (SQLite file "Ravek.db" in the dictionary folder): prefixes, per-voice
// lookup tables of pointed words, and data versions. One connection for the process.
#include <cstdint>
#include <string>
#include <vector>

#include "PointedWord.h"

struct PrefixTable;

namespace mMDBConnection {
inline constexpr const char* kDatabaseName = "Ravek.db";
// Opens <folder>Ravek.db (folder ends with "/"); 0 on success, -1 on failure.
int DbConnect(const std::string& folder);
void DbClose();
// Reads the prefix table in priority order; 0 on success, negative on failure.
int LoadPrefixes(PrefixTable& table, int codePage);
// Candidates of the lookup table "RavekLookup_<sexWord>" for the naked spelling of `word`; when
// found, one extra empty candidate follows the rows.
void LookupWord(const std::string& word, std::vector<PointedWords::Candidate>& candidates, const std::string& sexWord,
                bool& found, int codePage);
// Holds one read transaction on the connection while it lives, so that the many lookups of one
// request take the database's shared lock once instead of once per query (and see one state of
// the file). Does nothing without a connection; when the transaction cannot begin, every query
// locks on its own as before.
class ReadSession {
public:
    ReadSession();
    ~ReadSession();
    ReadSession(const ReadSession&) = delete;
    ReadSession& operator=(const ReadSession&) = delete;

private:
    bool open_ = false;
};
}  // namespace mMDBConnection

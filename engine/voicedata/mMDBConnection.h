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

// While one lives, every lookup reads from one read transaction: the database is locked and
// checked for changes once instead of at every query (a request makes several queries per
// word), and the lookups of the request see one consistent state. Does nothing without a
// connection or when a batch is already open.
class ReadBatch {
public:
    ReadBatch();
    ~ReadBatch();
    ReadBatch(const ReadBatch&) = delete;
    ReadBatch& operator=(const ReadBatch&) = delete;

private:
    bool open_ = false;
};
}  // namespace mMDBConnection

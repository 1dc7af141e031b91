#pragma once
// The lookup database (SQLite file "Ravek.db" in the dictionary folder): prefixes, per-voice
// lookup tables of pointed words, and data versions.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "PointedWord.h"

struct PrefixTable;

namespace mMDBConnection {
inline constexpr const char* kDatabaseName = "Ravek.db";

// One connection to the lookup database; each engine object owns one (in its EngineState).
class Connection {
public:
    Connection();
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Opens <folder>Ravek.db (folder ends with "/"); 0 on success, -1 on failure, with SQLite's
    // reason in `reason` when given.
    int DbConnect(const std::string& folder, std::string* reason = nullptr);
    void DbClose();
    bool IsOpen() const { return handles_ != nullptr; }
    // Reads the prefix table in priority order; 0 on success, negative on failure, with the
    // reason in `reason` when given.
    int LoadPrefixes(PrefixTable& table, int codePage, std::string* reason = nullptr);
    // Candidates of the lookup table "RavekLookup_<sexWord>" for the naked spelling of `word`;
    // when found, one extra empty candidate follows the rows.
    void LookupWord(const std::string& word, std::vector<PointedWords::Candidate>& candidates,
                    const std::string& sexWord, bool& found, int codePage) const;
    // False when LookupWord is sure to find nothing for any word with a blank (a phrase). Inside
    // a ReadBatch the answer may become false after a number of calls (the table is then
    // examined once for this state of the database); outside a batch it is true.
    bool MayHoldPhrases(const std::string& sexWord) const;
    // Whether the last DbConnect or LoadPrefixes failed because another program held a lock on
    // the database (it may well be free by the next request).
    bool FailedOnLock() const { return failedOnLock_; }

    // A start-up step that met a lock, run again before the lookups of each later request (see
    // ReadBatch) until it returns true; an empty step cancels it.
    void RetryBeforeNextLookups(std::function<bool()> step) { pendingRetry_ = std::move(step); }
    void RunPendingRetry() const;

    struct Handles;  // the SQLite handles (database and cached statements)

private:
    friend class ReadBatch;
    std::unique_ptr<Handles> handles_;
    bool failedOnLock_ = false;
    // Mutable: lookups see the connection as const, and running the step is part of a lookup.
    mutable std::function<bool()> pendingRetry_;
};

// Runs the connection's pending start-up retry first (see RetryBeforeNextLookups). While one lives, every lookup of the connection reads from one read transaction: the database
// is locked and checked for changes once instead of at every query (a request makes several
// queries per word), and the lookups of the request see one consistent state. Does nothing
// without an open connection or when a batch is already open.
class ReadBatch {
public:
    explicit ReadBatch(const Connection& connection);
    ~ReadBatch();
    ReadBatch(const ReadBatch&) = delete;
    ReadBatch& operator=(const ReadBatch&) = delete;

private:
    const Connection& connection_;
    bool open_ = false;
};
}  // namespace mMDBConnection

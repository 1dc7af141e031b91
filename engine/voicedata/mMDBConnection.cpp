#include "mMDBConnection.h"

#include <sqlite3.h>

#include <memory>
#include <optional>

#include "AutomationError.h"
#include "EngineState.h"

namespace mMDBConnection {
namespace {

struct DatabaseCloser {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
};
struct StatementFinaliser {
    void operator()(sqlite3_stmt* st) const { sqlite3_finalize(st); }
};
using DatabaseHandle = std::unique_ptr<sqlite3, DatabaseCloser>;
using StatementHandle = std::unique_ptr<sqlite3_stmt, StatementFinaliser>;

// A database failure inside one operation, with SQLite's message and result code; caught at the
// operation's edge.
struct DatabaseFailure {
    std::string message;
    int code = SQLITE_ERROR;
};

bool IsLock(int code) { return (code & 0xff) == SQLITE_BUSY || (code & 0xff) == SQLITE_LOCKED; }

// Hands the reason of a failed operation to a caller that asked for it; the failure's status.
int Failed(std::string* reason, std::string why) {
    if (reason) *reason = std::move(why);
    return -1;
}

StatementHandle Prepare(sqlite3* db, const char* sql) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK) {
        sqlite3_finalize(raw);
        throw DatabaseFailure{sqlite3_errmsg(db), sqlite3_extended_errcode(db)};
    }
    return StatementHandle(raw);
}

// Resets a cached statement when a query is done with it, whatever way it ends.
class StatementUse {
public:
    explicit StatementUse(sqlite3_stmt* st) : st_(st) {}
    ~StatementUse() {
        sqlite3_reset(st_);
        sqlite3_clear_bindings(st_);
    }
    StatementUse(const StatementUse&) = delete;
    StatementUse& operator=(const StatementUse&) = delete;
    // True for a row, false at the end; throws on an error.
    bool Step() {
        int rc = sqlite3_step(st_);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        throw DatabaseFailure{sqlite3_errmsg(sqlite3_db_handle(st_)), rc};
    }
    // A column as text; NULL reads as the empty string.
    std::string Text(int column) const {
        const unsigned char* text = sqlite3_column_text(st_, column);
        if (!text) return {};
        return std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(sqlite3_column_bytes(st_, column)));
    }
    bool IsNull(int column) const { return sqlite3_column_type(st_, column) == SQLITE_NULL; }
    int Columns() const { return sqlite3_column_count(st_); }

private:
    sqlite3_stmt* st_;
};

}  // namespace

// Whether a lookup table holds any naked word with a blank, as found at one data version.
struct BlankWordsSeen {
    int64_t version = -1;  // the data version of the answer; -1 before the table was examined
    bool any = true;
};

// The database, with the lookup statements prepared on first use.
struct Connection::Handles {
    DatabaseHandle db;
    StatementHandle lookupMale;
    StatementHandle lookupFemale;
    // The data version read when the open read batch began; -1 outside a batch. Our connection
    // only reads, so the same version at a later batch means nobody changed the database.
    int64_t batchVersion = -1;
    // Lookups of phrases (naked words with a blank) made in the open batch.
    int64_t phraseLookups = 0;
    BlankWordsSeen blankMale;
    BlankWordsSeen blankFemale;
};

namespace {

// The cached lookup statement of a voice; only the two sex words name a table.
sqlite3_stmt* LookupStatement(Connection::Handles& c, const std::string& sexWord) {
    if (sexWord == "Male") {
        if (!c.lookupMale) c.lookupMale = Prepare(c.db.get(), "Select * from RavekLookup_Male where NakedWord=?");
        return c.lookupMale.get();
    }
    if (sexWord == "Female") {
        if (!c.lookupFemale) c.lookupFemale = Prepare(c.db.get(), "Select * from RavekLookup_Female where NakedWord=?");
        return c.lookupFemale.get();
    }
    throw DatabaseFailure{"no lookup table for the voice \"" + sexWord + "\""};
}

// Until this many phrase lookups in one batch, each is simply queried: a request of a few words
// should not pay for examining a whole table.
constexpr int64_t kPhraseLookupsBeforeFilter = 256;

int64_t DataVersion(sqlite3* db) {
    StatementHandle st = Prepare(db, "PRAGMA data_version");
    StatementUse rows(st.get());
    if (!rows.Step()) throw DatabaseFailure{"no data version"};
    return sqlite3_column_int64(st.get(), 0);
}

// True when the lookup table of `sexWord` is known to hold no naked word with a blank, so a
// query for a phrase cannot find a row. Sequence matching asks for runs of two to four words at
// every position of a text, and almost none of them is a row: this answers them without a query.
// The table is examined (inside the batch's read transaction) once per data version, and only
// in a batch, whose data version says whether an earlier answer still holds.
bool NoPhraseRows(Connection::Handles& c, const std::string& sexWord) {
    if (c.batchVersion < 0) return false;
    BlankWordsSeen& seen = sexWord == "Male" ? c.blankMale : c.blankFemale;
    if (seen.version != c.batchVersion) {
        if (++c.phraseLookups <= kPhraseLookupsBeforeFilter) return false;
        const std::string sql = "Select 1 from RavekLookup_" + std::string(sexWord == "Male" ? "Male" : "Female") +
                                " where instr(NakedWord,' ')>0 limit 1";
        seen.version = c.batchVersion;
        try {
            StatementHandle st = Prepare(c.db.get(), sql.c_str());
            StatementUse rows(st.get());
            seen.any = rows.Step();
        } catch (const DatabaseFailure&) {
            seen.any = true;  // unknown: every phrase is queried, as without the test
        }
    }
    return !seen.any;
}

}  // namespace

Connection::Connection() = default;
Connection::~Connection() = default;

int Connection::DbConnect(const std::string& folder, std::string* reason) {
    DbClose();
    failedOnLock_ = false;
    std::string path = folder + kDatabaseName;
    sqlite3* raw = nullptr;
    // Read-only and never created: a missing database is a failure, not a new empty file.
    int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
    DatabaseHandle db(raw);
    if (rc != SQLITE_OK) return Failed(reason, raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc));
    try {
        // Reading the schema tells a database from any other file. Missing tables are not a
        // connection failure: the prefix load and each lookup report them when they query.
        StatementHandle schema = Prepare(db.get(), "SELECT count(*) FROM sqlite_master");
        StatementUse rows(schema.get());
        if (!rows.Step()) return Failed(reason, "the schema cannot be read");
    } catch (const DatabaseFailure& e) {
        failedOnLock_ = IsLock(e.code);
        return Failed(reason, e.message);
    }
    // The lookups of a long text touch pages all over the database: reading them through a
    // memory map instead of one pread copy each takes about a third off the matching. A
    // database that cannot be mapped is read as before.
    (void)sqlite3_exec(db.get(), "PRAGMA mmap_size=268435456", nullptr, nullptr, nullptr);
    handles_ = std::make_unique<Handles>();
    handles_->db = std::move(db);
    return 0;
}

void Connection::DbClose() { handles_.reset(); }

int Connection::LoadPrefixes(PrefixTable& table, int codePage, std::string* reason) {
    failedOnLock_ = false;
    const auto& connection = handles_;
    if (!connection) return Failed(reason, "no database connection");
    try {
        StatementHandle st = Prepare(connection->db.get(), "Select Prefix,FileName from Ravek_Prefixes Order By Priority asc");
        StatementUse rows(st.get());
        PrefixTable loaded;
        while (rows.Step()) {
            // A NULL prefix or file name cannot be used as text: the table is damaged.
            if (rows.IsNull(0) || rows.IsNull(1))
                return Failed(reason, "prefix row " + std::to_string(loaded.Patterns.size() + 1) + " has no " +
                                          (rows.IsNull(0) ? "prefix" : "file name"));
            std::string prefix = rows.Text(0);
            std::string fileName = rows.Text(1);
            loaded.Patterns.push_back(PointedWords::ParsePointedWord(prefix, codePage));
            loaded.FileNames.push_back(fileName);
            loaded.Prefixes.Add(prefix, fileName);  // a repeated prefix fails the whole load (457)
        }
        loaded.Count = static_cast<int32_t>(loaded.Patterns.size()) - 1;
        table = std::move(loaded);
        return 0;
    } catch (const DatabaseFailure& e) {
        failedOnLock_ = IsLock(e.code);
        return Failed(reason, e.message);
    } catch (const std::exception& e) {
        return Failed(reason, e.what());
    }
}

void Connection::LookupWord(const std::string& word, std::vector<PointedWords::Candidate>& candidates,
                            const std::string& sexWord, bool& found, int codePage) const {
    candidates.clear();
    found = false;
    const auto& connection = handles_;
    if (!connection) return;
    try {
        std::string naked = PointedWords::StripMarks(word, codePage);
        sqlite3_stmt* st = LookupStatement(*connection, sexWord);
        if (naked.find(' ') != std::string::npos && NoPhraseRows(*connection, sexWord)) return;
        StatementUse rows(st);
        if (rows.Columns() < 3) return;
        // The spelling is a bound parameter: quotes in it (geresh written as an apostrophe in
        // abbreviations) are part of the word, not of the statement.
        if (sqlite3_bind_text(st, 1, naked.data(), static_cast<int>(naked.size()), SQLITE_TRANSIENT) != SQLITE_OK) return;
        std::vector<PointedWords::Candidate> rowsRead;
        while (rows.Step()) rowsRead.push_back(PointedWords::Candidate{rows.Text(0), rows.Text(1), rows.Text(2)});
        if (rowsRead.empty()) return;
        rowsRead.push_back(PointedWords::Candidate{});  // room for the caller's own candidate
        candidates = std::move(rowsRead);
        found = true;
    } catch (const DatabaseFailure&) {
        candidates.clear();
        found = false;
    } catch (const std::exception&) {
        candidates.clear();
        found = false;
    }
}

bool Connection::MayHoldPhrases(const std::string& sexWord) const {
    if (!handles_) return false;  // without a connection no lookup finds anything
    if (sexWord != "Male" && sexWord != "Female") return false;  // no table: the lookup fails
    return !NoPhraseRows(*handles_, sexWord);
}

void Connection::RunPendingRetry() const {
    if (!pendingRetry_) return;
    // Taken out first: the step reconnects, and may ask to be run again.
    std::function<bool()> step = std::move(pendingRetry_);
    pendingRetry_ = nullptr;
    if (!step()) pendingRetry_ = std::move(step);
}

ReadBatch::ReadBatch(const Connection& connection) : connection_(connection) {
    connection_.RunPendingRetry();
    const auto& handles = connection_.handles_;
    if (!handles || !sqlite3_get_autocommit(handles->db.get())) return;
    open_ = sqlite3_exec(handles->db.get(), "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK;
    if (!open_) return;
    handles->phraseLookups = 0;
    try {
        // Read inside the transaction: the version belongs to the state the batch's lookups see.
        handles->batchVersion = DataVersion(handles->db.get());
    } catch (const DatabaseFailure&) {
        handles->batchVersion = -1;
    }
}

ReadBatch::~ReadBatch() {
    const auto& connection = connection_.handles_;
    if (connection) connection->batchVersion = -1;
    // The connection may have been closed (or replaced) meanwhile; closing it ended the batch.
    if (!open_ || !connection || sqlite3_get_autocommit(connection->db.get())) return;
    if (sqlite3_exec(connection->db.get(), "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
        sqlite3_exec(connection->db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
}

}  // namespace mMDBConnection

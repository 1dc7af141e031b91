#include "mMDBConnection.h"

#include <sqlite3.h>
#include <strings.h>

#include <filesystem>

#include "AutomationError.h"

namespace voicecheck::mMDBConnection {
namespace {

struct StatementCloser {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementCloser>;

[[noreturn]] void CannotOpen(const std::filesystem::path& file, const std::string& why) {
    RuntimeErrors::Raise(RuntimeErrors::PathFileAccessError, "cannot open the database " + file.string() + " (" + why + ")");
}

}  // namespace

VersionDatabase::VersionDatabase() = default;
VersionDatabase::~VersionDatabase() { CloseVersionDatabase(); }

void VersionDatabase::OpenVersionDatabase(const std::string& folder) {
    CloseVersionDatabase();
    const std::filesystem::path file = std::filesystem::path(folder) / kDatabaseName;
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error)) {
        CannotOpen(file, std::filesystem::exists(file, error) ? "not a regular file" : "no such file");
    }
    sqlite3* db = nullptr;
    const int status = sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    if (status != SQLITE_OK) {
        const std::string why = db ? sqlite3_errmsg(db) : sqlite3_errstr(status);
        sqlite3_close(db);
        CannotOpen(file, why);
    }
    sqlite3_busy_timeout(db, 2000);
    // SQLite reads the file lazily: reading its schema here tells a damaged file or one that is
    // no database at once, with the file's name, rather than as a missing version later.
    const int schema = sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
    if (schema != SQLITE_OK) {
        const std::string why = sqlite3_errmsg(db);
        sqlite3_close(db);
        CannotOpen(file, why);
    }
    db_ = db;
}

bool VersionDatabase::GetVersionInfoField(const std::string& voice, const std::string& column, std::string& value) const {
    if (!db_) return false;
    sqlite3_stmt* raw = nullptr;
    // The voice is bound, not pasted into the statement: a quote in a name must not change the
    // query. Names compare without regard to case, as the original database did.
    if (sqlite3_prepare_v2(db_, "SELECT * FROM VersionInfo WHERE Voice = ?1 COLLATE NOCASE", -1, &raw, nullptr) != SQLITE_OK)
        return false;
    Statement statement(raw);
    sqlite3_bind_text(raw, 1, voice.c_str(), static_cast<int>(voice.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(raw) != SQLITE_ROW) return false;
    for (int i = 0; i < sqlite3_column_count(raw); ++i) {
        const char* name = sqlite3_column_name(raw, i);
        if (!name || strcasecmp(name, column.c_str()) != 0) continue;
        if (sqlite3_column_type(raw, i) == SQLITE_NULL) return false;
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(raw, i));
        value.assign(text ? text : "", static_cast<std::size_t>(sqlite3_column_bytes(raw, i)));
        return true;
    }
    return false;
}

void VersionDatabase::CloseVersionDatabase() {
    if (db_) sqlite3_close(db_);
    db_ = nullptr;
}

}  // namespace voicecheck::mMDBConnection

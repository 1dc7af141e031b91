#pragma once
// The data versions of the lookup database (Ravek.db in the dictionary folder), read only: the
// diagnostics never change the database the engine uses. A connection lives for one check.
#include <memory>
#include <string>

struct sqlite3;

namespace voicecheck::mMDBConnection {

inline constexpr const char* kDatabaseName = "Ravek.db";

class VersionDatabase {
public:
    VersionDatabase();
    ~VersionDatabase();
    VersionDatabase(const VersionDatabase&) = delete;
    VersionDatabase& operator=(const VersionDatabase&) = delete;

    // Opens <folder>/Ravek.db read only. A file that is missing, unreadable or no database
    // raises AutomationError naming it.
    void OpenVersionDatabase(const std::string& folder);
    // The named column (any case) of the voice's row of VersionInfo, as text. False when there
    // is no connection, no such table, row or column, or the value is NULL.
    bool GetVersionInfoField(const std::string& voice, const std::string& column, std::string& value) const;
    void CloseVersionDatabase();
    bool IsOpen() const { return db_ != nullptr; }

private:
    sqlite3* db_ = nullptr;
};

}  // namespace voicecheck::mMDBConnection

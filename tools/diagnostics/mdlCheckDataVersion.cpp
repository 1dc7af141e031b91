#include "mdlCheckDataVersion.h"

#include <filesystem>

#include "Dictionary.h"
#include "mIndexFiles.h"
#include "mMDBConnection.h"
#include "mVersionCOntrol.h"
#include "mdlAppFolder.h"

namespace mdlCheckDataVersion {
namespace {

const std::string kLineBreak = "\r\n";

std::string Trim(const std::string& s) {
    const std::size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

std::string NameOf(const std::string& path) { return std::filesystem::path(path).filename().string(); }

bool IsFile(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

void Inconsistent(Result& result, const std::string& message) {
    result.Message = message;
    result.Ok = false;
    result.Completed = true;
}

void Check(const std::string& voice, Result& result, voicecheck::mMDBConnection::VersionDatabase& database) {
    std::string applicationPath;
    mdlAppFolder::GetAppFolder(1, applicationPath);
    const std::string folder = applicationPath + "/RavekDictionary/";
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error)) {
        result.Version = kNotInstalled;
        result.Ok = false;
        result.Completed = true;
        return;
    }
    database.OpenVersionDatabase(folder);
    std::string version;
    if (!database.GetVersionInfoField(voice, "Version", version)) return Inconsistent(result, "בסיס נתונים חסר");
    result.Version = version;
    const std::string databaseVersion = Trim(version);

    const std::string index = mIndexFiles::IndexFilePath(applicationPath, voice);
    if (!IsFile(index)) return Inconsistent(result, "קובץ אינדקס חסר" + kLineBreak + NameOf(index));
    std::string indexVersion;
    if (!mVersionCOntrol::GetFileVersion(index, mVersionCOntrol::IndexFile, indexVersion))
        return Inconsistent(result, "קובץ אינדקס ללא גירסא" + kLineBreak + NameOf(index));
    if (Trim(indexVersion) != databaseVersion)
        return Inconsistent(result, "גירסא שגויה של קובץ אינדקס" + kLineBreak + NameOf(index) + kLineBreak + indexVersion);

    int32_t count = 0;
    Dictionary entries;
    std::string reason;
    // An index the engine cannot load leaves the voice unusable, whatever its files say.
    if (mVersionCOntrol::CountBinaryFiles(index, entries, count, &reason) != 0)
        return Inconsistent(result, "קובץ אינדקס פגום" + kLineBreak + NameOf(index) + kLineBreak + reason);
    // The check stops at the first bad file, so a huge file number in the index ends at the
    // first number that has no file.
    for (int32_t n = 1; n <= count; ++n) {
        const std::string bin = mIndexFiles::BinFilePath(applicationPath, voice, n);
        if (!IsFile(bin)) return Inconsistent(result, "קובץ הקלטות חסר" + kLineBreak + NameOf(bin));
        std::string header;
        if (!mVersionCOntrol::GetFileVersion(bin, mVersionCOntrol::BinaryFile, header))
            return Inconsistent(result, "קובץ הקלטות ללא גירסא" + kLineBreak + NameOf(bin));
        const std::string expected = n == count ? databaseVersion : std::to_string(n) + ":C";
        if (Trim(header) != expected)
            return Inconsistent(result, "גירסא שגויה של קובץ הקלטות" + kLineBreak + NameOf(bin) + kLineBreak + Trim(header));
    }
    result.Ok = true;
    result.Completed = true;
}

}  // namespace

Result CheckDataVersion(const std::string& voice) {
    Result result;
    voicecheck::mMDBConnection::VersionDatabase database;
    try {
        Check(voice, result, database);
    } catch (const std::exception& e) {
        result.Completed = false;
        result.Error = e.what();
    }
    database.CloseVersionDatabase();
    return result;
}

}  // namespace mdlCheckDataVersion

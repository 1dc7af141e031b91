#pragma once
// The extractor's wrapper: the option record behind named properties, the archive's listing,
// and the extractor's callbacks turned into events (plain callables set by the owner).
#include <QDateTime>
#include <QString>

#include <functional>
#include <vector>

#include "UnzipLibrary.h"

namespace ravekrestore {

// One entry of the listing.
struct UnzipFileEntry {
    QString Filename;       // name without folder
    QString FileDirectory;  // folder inside the archive ("" at the top), "/" between parts
    quint64 FileSize = 0;
    long FileCompressionRatio = 0;
    quint64 FilePackedSize = 0;  // ratio x size / 100, as the listing gives it
    QDateTime FileDate;
    quint32 FileCRC = 0;
    QString FileCompressionMethod;
    bool FileEncrypted = false;
    bool FileSelected = true;
};

class cUnzip {
public:
    bool ExtractOnlyNewer() const { return options_.ExtractOnlyNewer != 0; }
    void SetExtractOnlyNewer(bool value) { options_.ExtractOnlyNewer = value; }
    bool SpaceToUnderScore() const { return options_.SpaceToUnderscore != 0; }
    void SetSpaceToUnderScore(bool value) { options_.SpaceToUnderscore = value; }
    bool PromptToOverwrite() const { return options_.PromptToOverwrite != 0; }
    void SetPromptToOverwrite(bool value) { options_.PromptToOverwrite = value; }
    long MessageLevel() const { return options_.fQuiet; }
    void SetMessageLevel(long value) { options_.fQuiet = static_cast<int32_t>(value); }
    bool TestZip() const { return options_.ntflag != 0; }
    void SetTestZip(bool value) { options_.ntflag = value; }
    bool UseFolderNames() const { return options_.ndflag != 0; }
    void SetUseFolderNames(bool value) { options_.ndflag = value; }
    bool OverwriteExisting() const { return options_.noflag != 0; }
    void SetOverwriteExisting(bool value) { options_.noflag = value; }
    bool ConvertCRToCRLF() const { return options_.naflag != 0; }
    void SetConvertCRToCRLF(bool value) { options_.naflag = value; }
    bool CaseSensitiveFileNames() const { return options_.C_flag != 0; }
    void SetCaseSensitiveFileNames(bool value) { options_.C_flag = value; }

    // The listing made by Directory(); indexes from 1.
    long FileCount() const { return static_cast<long>(files_.size()); }
    const UnzipFileEntry& File(long lIndex) const { return files_.at(static_cast<std::size_t>(lIndex - 1)); }
    void SetFileSelected(long lIndex, bool selected) { files_.at(static_cast<std::size_t>(lIndex - 1)).FileSelected = selected; }

    // Lists the archive into the file list. Returns the extractor's result (0 success).
    int Directory();
    // Extracts the selected entries into UnzipFolder. True when the extractor reports a
    // result other than 0 (LastResult() tells which).
    bool Unzip(const QString& LCID);
    int LastResult() const { return lastResult_; }

    QString UnzipFolder() const { return unzipFolder_; }
    void SetUnzipFolder(const QString& value) { unzipFolder_ = value; }
    QString ZipFile() const { return zipFile_; }
    // A new archive name also clears the listing.
    void SetZipFile(const QString& value);
    void GetVersion(long& lMajor, long& lMinor, long& lRevision, QDate& dDate, QString& sExtraInfo) const;

    // Events; a handler answers through its reference arguments.
    std::function<void(const QString& sMsg, bool& bCancel)> Cancel;
    std::function<void(const QString& sFile, long& eResponse)> OverWritePrompt;
    std::function<void(QString& sPassword, bool& bCancel)> PasswordRequest;
    std::function<void(long lCount, const QString& sMsg)> Progress;

    // Code page of names in an archive made on Windows, for listings made before any Unzip:
    // the language's ANSI code page.
    void SetDefaultCodePage(int codePage) { defaultCodePage_ = codePage; }

private:
    friend int VBUnzip(cUnzip& unzip, const QStringList& names, const QStringList& excluded, const QString& lcid);
    friend void AddListingEntry(cUnzip& unzip, const ravekzip::ListEntry& entry);

    ravekzip::DCL options_;
    QString zipFile_;
    QString unzipFolder_;
    std::vector<UnzipFileEntry> files_;
    QString lcid_;
    int defaultCodePage_ = 1255;
    int lastResult_ = 0;
};

}  // namespace ravekrestore

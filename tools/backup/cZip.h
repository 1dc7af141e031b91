#pragma once
// The packer's wrapper: the option record behind named properties, the list of file patterns,
// and the packer's callbacks turned into events (plain callables set by the owner).
#include <QString>
#include <QStringList>

#include <functional>

#include "ZipLibrary.h"

namespace ravekbackup {

class cZip {
public:
    static constexpr int kMaxFileSpecs = 1024;

    QString ZipFile() const { return zipFile_; }
    void SetZipFile(const QString& value) { zipFile_ = value; }
    QString BasePath() const { return basePath_; }
    void SetBasePath(const QString& value);
    bool Encrypt() const { return options_.fEncrypt != 0; }
    void SetEncrypt(bool value) { options_.fEncrypt = value; }
    bool AddComment() const { return options_.fComment != 0; }
    void SetAddComment(bool value) { options_.fComment = value; }
    bool IncludeSystemAndHiddenFiles() const { return options_.fSystem != 0; }
    void SetIncludeSystemAndHiddenFiles(bool value) { options_.fSystem = value; }
    bool StoreVolumeLabel() const { return options_.fVolume != 0; }
    void SetStoreVolumeLabel(bool value) { options_.fVolume = value; }
    bool StoreDirectories() const { return options_.fNoDirEntries == 0; }
    void SetStoreDirectories(bool value) { options_.fNoDirEntries = !value; }
    bool StoreFolderNames() const { return options_.fJunkDir == 0; }
    void SetStoreFolderNames(bool value) { options_.fJunkDir = !value; }
    bool RecurseSubDirs() const { return options_.fRecurse != 0; }
    void SetRecurseSubDirs(bool value) { options_.fRecurse = value ? 2 : 0; }
    bool UpdateOnlyIfNewer() const { return options_.fUpdate != 0; }
    void SetUpdateOnlyIfNewer(bool value) { options_.fUpdate = value; }
    bool FreshenFiles() const { return options_.fFreshen != 0; }
    void SetFreshenFiles(bool value) { options_.fFreshen = value; }
    // 0 verbose, 1 quiet, 2 normal; other values leave the record as it is.
    int MessageLevel() const { return messageLevel_; }
    void SetMessageLevel(int value);
    bool ConvertCRLFToLF() const { return options_.fCRLF_LF != 0; }
    void SetConvertCRLFToLF(bool value) { options_.fCRLF_LF = value; }
    bool ConvertLFToCRLF() const { return options_.fLF_CRLF != 0; }
    void SetConvertLFToCRLF(bool value) { options_.fLF_CRLF = value; }

    void ClearFileSpecs() { fileSpecs_.clear(); }
    // Appends one pattern; patterns beyond kMaxFileSpecs are not kept.
    void AddFileSpec(const QString& sSpec);
    int FileSpecCount() const { return static_cast<int>(fileSpecs_.size()); }
    QString FileSpec(int nIndex) const { return fileSpecs_.value(nIndex); }

    bool AllowAppend() const { return options_.fGrow != 0; }
    void SetAllowAppend(bool value) { options_.fGrow = value; }

    // Packs the patterns below BasePath into ZipFile; LCID is the language's locale number as
    // text. Success() tells the outcome.
    void Zip(const QString& LCID);
    // Removes the entries matching the patterns from ZipFile.
    void Delete();
    bool Success() const { return lastResult_ == 0; }
    int LastResult() const { return lastResult_; }
    QString Lcid() const { return lcid_; }

    // Events; a handler answers through its reference arguments.
    std::function<void(const QString& sMsg, bool& bCancel)> Cancel;
    std::function<void(QString& sPassword, long lMaxPasswordLength, bool bConfirm, bool& bCancel)> PasswordRequest;
    std::function<void(QString& sComment, bool& bCancel)> CommentRequest;
    std::function<void(long lCount, const QString& sMsg)> Progress;

    const ravekzip::ZPOPT& Options() const { return options_; }

private:
    friend int VBZip(cZip& zip, const QString& lcid);
    ravekzip::ZPOPT options_;
    QString zipFile_;
    QString basePath_;
    QStringList fileSpecs_;
    int messageLevel_ = 0;
    int lastResult_ = 0;
    QString lcid_;
};

}  // namespace ravekbackup

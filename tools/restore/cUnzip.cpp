#include "cUnzip.h"

#include "mUnzip.h"

namespace ravekrestore {

void cUnzip::SetZipFile(const QString& value) {
    zipFile_ = value;
    files_.clear();
}

int cUnzip::Directory() {
    files_.clear();
    options_.lpszZipFN = zipFile_.toStdString();
    options_.lpszExtractDir.clear();
    options_.nvflag = 1;
    const int result = VBUnzip(*this, {}, {}, lcid_);
    options_.nvflag = 0;
    return result;
}

bool cUnzip::Unzip(const QString& LCID) {
    lcid_ = LCID;
    if (zipFile_.isEmpty()) return false;
    QStringList names;
    bool all = true;
    for (const UnzipFileEntry& file : files_) {
        if (!file.FileSelected) {
            all = false;
            continue;
        }
        names.append(file.FileDirectory.isEmpty() ? file.Filename : file.FileDirectory + QLatin1Char('/') + file.Filename);
    }
    // Every entry selected: no names, which asks for all of them.
    if (all) names.clear();
    else if (names.isEmpty()) return false;  // nothing selected, nothing to do
    options_.lpszZipFN = zipFile_.toStdString();
    options_.lpszExtractDir = unzipFolder_.toStdString();
    options_.nvflag = 0;
    lastResult_ = VBUnzip(*this, names, {}, LCID);
    return lastResult_ != 0;
}

void cUnzip::GetVersion(long& lMajor, long& lMinor, long& lRevision, QDate& dDate, QString& sExtraInfo) const {
    const ravekzip::UzpVer version = ravekzip::UzpVersion2();
    lMajor = version.Major;
    lMinor = version.Minor;
    lRevision = version.PatchLevel;
    dDate = QDate::fromString(QString::fromStdString(version.Date), Qt::ISODate);
    sExtraInfo = QString::fromStdString(version.BetaLevel);
}

}  // namespace ravekrestore

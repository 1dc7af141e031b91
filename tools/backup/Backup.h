#pragma once
// What the backup window and the command line share: the settings, the locale check, the
// archive's name, counting the recordings, the progress lines and the packing itself.
#include <QDateTime>
#include <QString>

#include <functional>
#include <optional>

#include "ToolWindow.h"

namespace ravekbackup {

// The language and settings the program starts with.
struct BackupSettings {
    ravekqt::ToolLanguage Language;
    QString KeySuffix;  // "" or "\" + the language's key suffix
    QString Lcid;       // the language's locale number as text ("" for Russian)
    QString MaleVoice, FemaleVoice, RecordsRoot;
};

// Reads the language (code page manager) and the registry values.
BackupSettings ReadBackupSettings();

// The text shown when the program refuses to start, or nothing: with a language the code page
// manager does not know (index 4), the user's locale name (HKCU "Control Panel\International"
// "sLanguage", else the POSIX locale's) must contain "EN" or "AR".
std::optional<QString> LocaleRefusal(long languageIndex);
inline const char* kLocaleRefusalTitle = "Archive";

// voice + "_" + DDMMYYYY_HH_mm + ".zip".
QString ArchiveName(const QString& voice, const QDateTime& when = QDateTime::currentDateTime());

// Counts the files matching `searchStr` below `path` (hidden ones included) into fileCount and
// the folders into dirCount.
void EnumerateFiles(const QString& path, const QString& searchStr, long& fileCount, long& dirCount);

// Half-way percentages go to the even neighbour.
long RoundedPercent(long part, long whole);

// The packer's messages as the window shows them: "adding" lines counted, shown in the log
// with the language's prefix and summed up in the progress line; error lines listed as they
// come; everything else ignored.
class BackupProgress {
public:
    BackupProgress(long languageOffset, long totalFiles) : offset_(languageOffset), total_(totalFiles) {}
    struct Update {
        QString LogLine;
        QString ProgressLine;  // empty: the progress line stays
    };
    std::optional<Update> Handle(QString message);
    long Added() const { return added_; }

private:
    long offset_;
    long total_;
    long added_ = 0;
};

// One packing: counts, configures the wrapper and packs, telling the caller what to show.
struct BackupJob {
    QString RecordsRoot, Voice, ArchivePath, Lcid;
    long LanguageOffset = 0;
    std::function<void(const QString&)> Status;   // the status line (lblProgress)
    std::function<void(const QString&)> LogLine;  // a line of the log (lstLog)
    std::function<void()> Started;                // the packing starts (controls off)

    // True when the archive was written.
    bool Run();
};

}  // namespace ravekbackup

#pragma once
// What the restore window and the command line share: the settings, recognising the voice of
// an archive, the progress lines and the extraction itself.
#include <QString>

#include <functional>
#include <optional>

#include "ToolWindow.h"

namespace ravekrestore {

struct RestoreSettings {
    ravekqt::ToolLanguage Language;
    QString KeySuffix;  // "" or "\" + the language's key suffix
    QString Lcid;       // the language's locale number as text ("" for Russian)
    int AnsiCodePage = 1255;
};
RestoreSettings ReadRestoreSettings();

// The registry values read each time an archive is chosen.
struct RecordingVoices {
    QString Male, Female, RecordsRoot;
};
RecordingVoices ReadRecordingVoices(const QString& keySuffix);

// 1 when the archive's path contains the male voice's name (tested first), 2 the female's,
// 0 neither. Case counts.
int RecogniseVoice(const QString& archivePath, const RecordingVoices& voices);

enum class RestoreMode { OnlyMissing, All, MissingAndNewer };

// The extractor's messages as the window shows them: every message counted and listed, with
// the language's prefix for extracted and skipped files.
class RestoreProgress {
public:
    RestoreProgress(long languageOffset, long entries) : offset_(languageOffset), entries_(entries) {}
    struct Update {
        QString LogLine;
        QString ProgressLine;
    };
    Update Handle(QString message);
    long Messages() const { return messages_; }

private:
    long offset_;
    long entries_;
    long messages_ = 0;
};

// One extraction: lists the archive, sets the mode and extracts, telling the caller what to
// show. Every overwrite question is answered "do not replace".
struct RestoreJob {
    QString ArchivePath, TargetFolder, Lcid;
    RestoreMode Mode = RestoreMode::OnlyMissing;
    long LanguageOffset = 0;
    int AnsiCodePage = 1255;
    std::function<void(const QString&)> Status;
    std::function<void(const QString&)> LogLine;

    // The extractor's result: 0 everything restored, 1 some entries refused (listed), other
    // values failure.
    int Run();
};

// The final status text of a result.
QString StatusOfResult(int result, long languageOffset);

}  // namespace ravekrestore

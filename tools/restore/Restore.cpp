#include "Restore.h"

#include <cmath>

#include "CommonFunc.h"
#include "ManageCodePage.h"
#include "StringTable.h"
#include "UnzipLibrary.h"
#include "cUnzip.h"

namespace ravekrestore {

using ravekqt::LoadResString;

namespace {

QString Registry(const std::string& key, const std::string& value) {
    return QString::fromStdString(CommonFunc::VariantText(
        CommonFunc::GetRegistryValue(CommonFunc::RootKey::LocalMachine, key, value)));
}

// Half-way percentages go to the even neighbour.
long RoundedPercent(long part, long whole) {
    return std::lround(std::nearbyint(static_cast<double>(part) * 100.0 / static_cast<double>(whole)));
}

// Texts beyond the classic table: the extraction's failure and its partial success.
constexpr long kExtractFailed = 180;
constexpr long kExtractPartial = 181;

}  // namespace

RestoreSettings ReadRestoreSettings() {
    RestoreSettings settings;
    settings.Language = ravekqt::SystemLanguage();
    std::string suffix;
    ManageCodePage::GetLanguageKeySuffix(settings.Language.Index, suffix);
    settings.KeySuffix = suffix.empty() ? QString() : QStringLiteral("\\") + QString::fromStdString(suffix);
    settings.Lcid = QString::fromStdString(ManageCodePage::GetLanguageLcid(settings.Language.Index));
    settings.AnsiCodePage = ManageCodePage::GetLanguageAnsiCodePage(settings.Language.Index);
    return settings;
}

RecordingVoices ReadRecordingVoices(const QString& keySuffix) {
    const std::string key = "Software\\RavekVoice" + keySuffix.toStdString();
    return {Registry(key, "MaleVoiceName"), Registry(key, "FemaleVoiceName"), Registry("Software\\RavekVoice", "MyRecordsPath")};
}

int RecogniseVoice(const QString& archivePath, const RecordingVoices& voices) {
    if (!voices.Male.isEmpty() && archivePath.contains(voices.Male, Qt::CaseSensitive)) return 1;
    if (!voices.Female.isEmpty() && archivePath.contains(voices.Female, Qt::CaseSensitive)) return 2;
    return 0;
}

RestoreProgress::Update RestoreProgress::Handle(QString message) {
    message.remove(QLatin1Char('\n')).remove(QChar(u'\0'));
    if (message.contains(QLatin1String("inflating"))) message = LoadResString(150, offset_) + message.remove(QLatin1String("inflating:"));
    if (message.contains(QLatin1String("Target file newer."))) message.remove(QLatin1String("Target file newer."));
    if (message.contains(QLatin1String("Skipping"))) message = LoadResString(151, offset_) + message.remove(QLatin1String("Skipping"));
    ++messages_;
    const long total = entries_ != 0 ? entries_ : messages_;
    const QString progress = LoadResString(143, offset_) + QLatin1Char(' ') +
                             QString::number(RoundedPercent(messages_, total)) + QStringLiteral("%  ( ") +
                             QString::number(messages_) + QLatin1Char(' ') + LoadResString(164, offset_) +
                             QString::number(total) + QStringLiteral(" )");
    return {message.trimmed(), progress};
}

QString StatusOfResult(int result, long languageOffset) {
    if (result == ravekzip::PK_OK) return LoadResString(149, languageOffset);
    if (result == ravekzip::PK_WARN) return LoadResString(kExtractPartial, languageOffset);
    return LoadResString(kExtractFailed, languageOffset);
}

int RestoreJob::Run() {
    cUnzip unzip;
    unzip.SetDefaultCodePage(AnsiCodePage);
    unzip.SetZipFile(ArchivePath);
    Status(LoadResString(158, LanguageOffset));
    unzip.Directory();
    const long entries = unzip.FileCount();
    unzip.SetUnzipFolder(TargetFolder);
    unzip.SetUseFolderNames(true);
    unzip.SetExtractOnlyNewer(Mode == RestoreMode::MissingAndNewer);
    unzip.SetOverwriteExisting(Mode != RestoreMode::OnlyMissing);
    unzip.SetPromptToOverwrite(true);
    Status(LoadResString(148, LanguageOffset));
    RestoreProgress progress(LanguageOffset, entries);
    unzip.Progress = [&](long, const QString& message) {
        const RestoreProgress::Update update = progress.Handle(message);
        LogLine(update.LogLine);
        Status(update.ProgressLine);
    };
    // Every question is answered "do not replace": with "missing files only" an existing
    // recording is kept.
    unzip.OverWritePrompt = [](const QString&, long& response) { response = ravekzip::IDM_REPLACE_NO; };
    unzip.Unzip(Lcid);
    const int result = unzip.LastResult();
    Status(StatusOfResult(result, LanguageOffset));
    return result;
}

}  // namespace ravekrestore

#include "Backup.h"

#include <QDir>
#include <QFileInfo>

#include <cmath>

#include "CommonFunc.h"
#include "ManageCodePage.h"
#include "StringTable.h"
#include "cZip.h"

namespace ravekbackup {

using ravekqt::LoadResString;

namespace {

QString Registry(const std::string& key, const std::string& value) {
    return QString::fromStdString(CommonFunc::VariantText(
        CommonFunc::GetRegistryValue(CommonFunc::RootKey::LocalMachine, key, value)));
}

}  // namespace

BackupSettings ReadBackupSettings() {
    BackupSettings settings;
    settings.Language = ravekqt::SystemLanguage();
    std::string suffix;
    ManageCodePage::GetLanguageKeySuffix(settings.Language.Index, suffix);
    settings.KeySuffix = suffix.empty() ? QString() : QStringLiteral("\\") + QString::fromStdString(suffix);
    settings.Lcid = QString::fromStdString(ManageCodePage::GetLanguageLcid(settings.Language.Index));
    const std::string key = "Software\\RavekVoice" + settings.KeySuffix.toStdString();
    settings.MaleVoice = Registry(key, "MaleVoiceName");
    settings.FemaleVoice = Registry(key, "FemaleVoiceName");
    settings.RecordsRoot = Registry("Software\\RavekVoice", "MyRecordsPath");
    return settings;
}

std::optional<QString> LocaleRefusal(long languageIndex) {
    if (languageIndex != 4) return std::nullopt;
    std::string name = CommonFunc::VariantText(
        CommonFunc::GetRegistryValue(CommonFunc::RootKey::CurrentUser, "Control Panel\\International", "sLanguage"));
    if (CommonFunc::LastRegistryStatus() != 0)
        name = ManageCodePage::LanguageNameOfPosixLocale(ManageCodePage::CurrentPosixLocale());
    if (name.find("EN") != std::string::npos || name.find("AR") != std::string::npos) return std::nullopt;
    return QStringLiteral("Cannot proceed when user locale language is not Arabic or English. Please contact software vendor.");
}

QString ArchiveName(const QString& voice, const QDateTime& when) {
    return voice + QLatin1Char('_') + when.toString(QStringLiteral("ddMMyyyy_HH_mm")) + QStringLiteral(".zip");
}

void EnumerateFiles(const QString& path, const QString& searchStr, long& fileCount, long& dirCount) {
    QString folder = path;
    if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
    const QDir dir(folder);
    const auto all = QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
    fileCount += dir.entryList({searchStr}, QDir::Files | all).size();
    for (const QString& sub : dir.entryList(QDir::Dirs | QDir::NoSymLinks | all)) {
        EnumerateFiles(folder + sub, searchStr, fileCount, dirCount);
        ++dirCount;
    }
}

long RoundedPercent(long part, long whole) {
    if (whole == 0) return 0;
    return static_cast<long>(std::nearbyint(static_cast<double>(part) * 100.0 / static_cast<double>(whole)));
}

std::optional<BackupProgress::Update> BackupProgress::Handle(QString message) {
    message.remove(QLatin1Char('\n')).remove(QChar(u'\0'));
    if (message.contains(QLatin1String("security"))) return std::nullopt;
    if (message.startsWith(QLatin1String("zip error")) || message.startsWith(QLatin1String("zip warning")))
        return Update{message, {}};
    if (!message.contains(QLatin1String("adding"))) return std::nullopt;
    message.remove(QLatin1String("adding:"));
    ++added_;
    const long total = total_ != 0 ? total_ : added_;
    const QString progress = LoadResString(143, offset_) + QLatin1Char(' ') + QString::number(RoundedPercent(added_, total)) +
                             QStringLiteral("% (") + QString::number(added_) + QLatin1Char(' ') + LoadResString(164, offset_) +
                             QLatin1Char(' ') + QString::number(total) + QStringLiteral(" )");
    return Update{LoadResString(159, offset_) + message, progress};
}

bool BackupJob::Run() {
    const QString voiceFolder = RecordsRoot + QLatin1Char('/') + Voice;
    long files = 0, folders = 0;
    Status(LoadResString(139, LanguageOffset));
    if (QDir(voiceFolder).exists()) EnumerateFiles(voiceFolder + QLatin1Char('/'), QStringLiteral("*.*"), files, folders);

    cZip zip;
    zip.SetZipFile(ArchivePath);
    zip.SetEncrypt(false);
    zip.SetAddComment(false);
    zip.SetBasePath(voiceFolder + QLatin1Char('/'));
    zip.ClearFileSpecs();
    zip.AddFileSpec(QStringLiteral("*.wav"));
    zip.AddFileSpec(QStringLiteral("*.*3"));
    zip.SetStoreDirectories(true);
    zip.SetStoreFolderNames(true);
    zip.SetRecurseSubDirs(true);
    BackupProgress progress(LanguageOffset, files);
    zip.Progress = [&](long, const QString& message) {
        if (const auto update = progress.Handle(message)) {
            if (!update->ProgressLine.isEmpty()) Status(update->ProgressLine);
            LogLine(update->LogLine);
        }
    };
    Status(LoadResString(140, LanguageOffset));
    if (Started) Started();
    zip.Zip(Lcid);
    if (zip.Success()) {
        Status(LoadResString(142, LanguageOffset) + QStringLiteral("\n") + QFileInfo(ArchivePath).fileName());
        return true;
    }
    Status(LoadResString(141, LanguageOffset));
    return false;
}

}  // namespace ravekbackup

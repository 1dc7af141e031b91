// BackupRecordings: packs one voice's recordings into a zip archive, in a window or, with
// --voice, on the command line.
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>

#include "Backup.h"
#include "Form1.h"
#include "ZipText.h"
#include "ToolWindow.h"

using namespace ravekbackup;
using ravekqt::PrintLine;

namespace {

const char* kDescription =
    "Packs the recordings of one recording voice (every *.wav and *.*3 file below MyRecordsPath/<voice>,\n"
    "sub-folders included) into a zip archive named <voice>_DDMMYYYY_HH_mm.zip, which RestoreRecordings\n"
    "unpacks on this or another computer. Without options it opens its window.\n"
    "\n"
    "  BackupRecordings --voice NAME [--output FILE.zip|FOLDER]\n"
    "\n"
    "packs without a window: NAME is a recording voice as the registry names it (MaleVoiceName or\n"
    "FemaleVoiceName); the archive goes into the recordings folder, or to --output (a file, or a folder\n"
    "that receives the usual name). The log lines and the final status are printed; the exit status\n"
    "is 0 when the archive was written, 1 when packing failed or the program refused to run, 2 for bad\n"
    "usage. Settings come from the registry file ($RAVEK_REGISTRY).";

int RunCommandLine(QCoreApplication& app) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(kDescription));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption voiceOption(QStringLiteral("voice"), QStringLiteral("Recording voice to pack."), QStringLiteral("name"));
    const QCommandLineOption outputOption(QStringLiteral("output"), QStringLiteral("Archive file, or folder for it."),
                                          QStringLiteral("path"));
    parser.addOption(voiceOption);
    parser.addOption(outputOption);
    parser.process(app);
    if (!parser.isSet(voiceOption)) {
        PrintLine(stderr, QStringLiteral("BackupRecordings: --voice is needed (see --help)"));
        return 2;
    }
    if (const auto problem = ravekqt::RegistryFileProblem()) {
        PrintLine(stderr, QStringLiteral("BackupRecordings: ") + *problem);
        return 1;
    }
    const BackupSettings settings = ReadBackupSettings();
    if (const auto refusal = LocaleRefusal(settings.Language.Index)) {
        PrintLine(stderr, *refusal);
        return 1;
    }
    const QString voice = parser.value(voiceOption);
    if (voice.isEmpty() || (voice != settings.MaleVoice && voice != settings.FemaleVoice)) {
        PrintLine(stderr, QStringLiteral("BackupRecordings: \"%1\" is no recording voice; the voices are \"%2\" and \"%3\"")
                          .arg(voice, settings.MaleVoice, settings.FemaleVoice));
        return 2;
    }
    if (settings.RecordsRoot.isEmpty()) {
        PrintLine(stderr, QStringLiteral("BackupRecordings: MyRecordsPath is not set in the registry"));
        return 1;
    }
    QString archive = settings.RecordsRoot + QLatin1Char('/') + ArchiveName(voice);
    if (parser.isSet(outputOption)) {
        const QString output = parser.value(outputOption);
        archive = QFileInfo(output).isDir() ? QDir(output).filePath(ArchiveName(voice)) : output;
        if (!QFileInfo(QFileInfo(archive).absolutePath()).isDir()) {
            PrintLine(stderr, QStringLiteral("BackupRecordings: no folder %1").arg(QFileInfo(archive).absolutePath()));
            return 2;
        }
    }
    BackupJob job;
    job.RecordsRoot = settings.RecordsRoot;
    job.Voice = voice;
    job.ArchivePath = archive;
    job.Lcid = settings.Lcid;
    job.LanguageOffset = settings.Language.Offset;
    QString status;
    job.Status = [&status](const QString& text) { status = text; };
    job.LogLine = [](const QString& line) { PrintLine(stdout, line); };
    const bool written = job.Run();
    PrintLine(written ? stdout : stderr, written ? status + QStringLiteral(" (") + archive + QLatin1Char(')') : status);
    return written ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    ravekzip::NameTheTimeZone();
    if (ravekqt::AnsweredWithoutWindow(argc, argv, {"--voice", "--output"})) {
        // No window, so no display is needed.
        QCoreApplication app(argc, argv);
        ravekqt::IdentifyTool(QStringLiteral("BackupRecordings"), QStringLiteral(PROJECT_VERSION));
        return RunCommandLine(app);
    }
    QApplication app(argc, argv);
    ravekqt::IdentifyTool(QStringLiteral("BackupRecordings"), QStringLiteral(PROJECT_VERSION), QStringLiteral("org.ravek.BackupRecordings"));
    if (const auto problem = ravekqt::RegistryFileProblem()) {
        // Without the registry there are no voices and no recordings folder to work on.
        QMessageBox box(QMessageBox::Warning, QStringLiteral("BackupRecordings"), *problem, QMessageBox::Ok);
        box.exec();
        return 1;
    }
    const BackupSettings settings = ReadBackupSettings();
    QApplication::setLayoutDirection(ravekqt::LayoutDirectionOf(settings.Language.Index));
    if (const auto refusal = LocaleRefusal(settings.Language.Index)) {
        QMessageBox box(QMessageBox::Warning, QString::fromLatin1(kLocaleRefusalTitle), *refusal, QMessageBox::Ok);
        box.exec();
        return 1;
    }
    Form1 window(settings);
    window.show();
    return QApplication::exec();
}

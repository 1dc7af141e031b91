// RestoreRecordings: unpacks a recordings bundle into a voice's recordings folder, in a window
// or, with --archive, on the command line.
#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QMessageBox>

#include <cstdio>

#include "Form1.h"
#include "Restore.h"
#include "ZipText.h"
#include "ToolWindow.h"

using namespace ravekrestore;
using ravekqt::PrintLine;

namespace {

const char* kDescription =
    "Unpacks a recordings bundle made by BackupRecordings into the recordings folder of a recording voice\n"
    "(MyRecordsPath/<voice>), keeping the bundle's folders and the files' times. Without options it opens\n"
    "its window.\n"
    "\n"
    "  RestoreRecordings --archive FILE.zip [--voice NAME] [--mode missing|all|newer]\n"
    "\n"
    "unpacks without a window. NAME is a recording voice as the registry names it (MaleVoiceName or\n"
    "FemaleVoiceName); without --voice the voice is recognised from the archive's name as the window does.\n"
    "--mode missing (the default) adds only files the folder lacks; all replaces existing files; newer adds\n"
    "missing files and replaces those older than the bundle's. Entries that would land outside the folder,\n"
    "links and entries larger than 2 GiB are refused and listed. The log lines and the final status are\n"
    "printed; the exit status is 0 when everything was restored, 1 when something was not, 2 for bad usage.\n"
    "Settings come from the registry file ($RAVEK_REGISTRY).";

int RunCommandLine(QCoreApplication& app) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(kDescription));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption archiveOption(QStringLiteral("archive"), QStringLiteral("Recordings bundle to unpack."),
                                           QStringLiteral("file"));
    const QCommandLineOption voiceOption(QStringLiteral("voice"), QStringLiteral("Recording voice to restore into."),
                                         QStringLiteral("name"));
    const QCommandLineOption modeOption(QStringLiteral("mode"), QStringLiteral("missing (default), all or newer."),
                                        QStringLiteral("mode"), QStringLiteral("missing"));
    parser.addOption(archiveOption);
    parser.addOption(voiceOption);
    parser.addOption(modeOption);
    parser.process(app);
    const QString archive = parser.value(archiveOption);
    if (archive.isEmpty()) {
        PrintLine(stderr, QStringLiteral("RestoreRecordings: --archive is needed (see --help)"));
        return 2;
    }
    if (!QFileInfo(archive).isFile()) {
        PrintLine(stderr, QStringLiteral("RestoreRecordings: no file %1").arg(archive));
        return 2;
    }
    const QString modeText = parser.value(modeOption);
    RestoreMode mode = RestoreMode::OnlyMissing;
    if (modeText == QLatin1String("all")) mode = RestoreMode::All;
    else if (modeText == QLatin1String("newer")) mode = RestoreMode::MissingAndNewer;
    else if (modeText != QLatin1String("missing")) {
        PrintLine(stderr, QStringLiteral("RestoreRecordings: --mode is missing, all or newer, not \"%1\"").arg(modeText));
        return 2;
    }
    if (const auto problem = ravekqt::RegistryFileProblem()) {
        PrintLine(stderr, QStringLiteral("RestoreRecordings: ") + *problem);
        return 1;
    }
    const RestoreSettings settings = ReadRestoreSettings();
    const RecordingVoices voices = ReadRecordingVoices(settings.KeySuffix);
    QString voice = parser.value(voiceOption);
    if (parser.isSet(voiceOption)) {
        if (voice.isEmpty() || (voice != voices.Male && voice != voices.Female)) {
            PrintLine(stderr, QStringLiteral("RestoreRecordings: \"%1\" is no recording voice; the voices are \"%2\" and \"%3\"")
                              .arg(voice, voices.Male, voices.Female));
            return 2;
        }
    } else {
        const int recognised = RecogniseVoice(archive, voices);
        if (recognised == 0) {
            PrintLine(stderr, QStringLiteral("RestoreRecordings: the archive's name names no recording voice (\"%1\" or \"%2\"): "
                                         "give --voice")
                              .arg(voices.Male, voices.Female));
            return 2;
        }
        voice = recognised == 1 ? voices.Male : voices.Female;
    }
    if (voices.RecordsRoot.isEmpty()) {
        PrintLine(stderr, QStringLiteral("RestoreRecordings: MyRecordsPath is not set in the registry"));
        return 1;
    }
    RestoreJob job;
    job.ArchivePath = archive;
    job.TargetFolder = voices.RecordsRoot + QLatin1Char('/') + voice;
    job.Lcid = settings.Lcid;
    job.Mode = mode;
    job.LanguageOffset = settings.Language.Offset;
    job.AnsiCodePage = settings.AnsiCodePage;
    QString status;
    job.Status = [&status](const QString& text) { status = text; };
    job.LogLine = [](const QString& line) { PrintLine(stdout, line); };
    const int result = job.Run();
    PrintLine(result == 0 ? stdout : stderr, status);
    return result == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    ravekzip::NameTheTimeZone();
    if (ravekqt::AnsweredWithoutWindow(argc, argv, {"--archive", "--voice", "--mode"})) {
        // No window, so no display is needed.
        QCoreApplication app(argc, argv);
        ravekqt::IdentifyTool(QStringLiteral("RestoreRecordings"), QStringLiteral(PROJECT_VERSION));
        return RunCommandLine(app);
    }
    QApplication app(argc, argv);
    ravekqt::IdentifyTool(QStringLiteral("RestoreRecordings"), QStringLiteral(PROJECT_VERSION), QStringLiteral("org.ravek.RestoreRecordings"));
    if (const auto problem = ravekqt::RegistryFileProblem()) {
        // Without the registry there are no voices and no recordings folder to work on.
        QMessageBox box(QMessageBox::Warning, QStringLiteral("RestoreRecordings"), *problem, QMessageBox::Ok);
        box.exec();
        return 1;
    }
    const RestoreSettings settings = ReadRestoreSettings();
    QApplication::setLayoutDirection(ravekqt::LayoutDirectionOf(settings.Language.Index));
    Form1 window(settings);
    window.show();
    return QApplication::exec();
}

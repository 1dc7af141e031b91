// VoiceCheck: shows and saves the RavekVoice engine's settings and checks its installed voice data.
#include <QApplication>
#include <QCommandLineParser>

#include "RavekDiagnostics.h"
#include "ToolWindow.h"

namespace {

void DescribeOptions(QCommandLineParser& parser) {
    parser.setApplicationDescription(QStringLiteral(
        "Shows and saves five settings of the RavekVoice engine: the log level, the longest run of words\n"
        "spoken from one recording, what to say for a missing word, MP3-to-WAVE conversion and numbered\n"
        "file names. On a Hebrew system it also shows whether the installed voice data are consistent\n"
        "(data version, index and binary files of both dictionary voices) and whether the recordings\n"
        "folders exist; \"More details\" checks one voice file by file.\n"
        "Settings come from the registry file ($RAVEK_REGISTRY, default /etc/ravek/registry.reg) and the\n"
        "INI file it names; Save writes the changed values back and keeps everything else of both files.\n"
        "A running engine takes the new values at its next client's Initialise.\n"
        "Qt's options (-platform, -reverse...) are accepted too."));
    parser.addHelpOption();
    parser.addVersionOption();
}

}  // namespace

int main(int argc, char** argv) {
    const QString version = QStringLiteral(RAVEK_VERSION_TEXT);
    if (ravekqt::AnsweredWithoutWindow(argc, argv)) {
        // Help needs no display.
        QCoreApplication app(argc, argv);
        ravekqt::IdentifyTool(QStringLiteral("VoiceCheck"), version);
        QCommandLineParser parser;
        DescribeOptions(parser);
        parser.process(app);
        return 0;
    }
    QApplication app(argc, argv);
    ravekqt::IdentifyTool(QStringLiteral("VoiceCheck"), version, QStringLiteral("org.ravek.VoiceCheck"));
    QCommandLineParser parser;
    DescribeOptions(parser);
    parser.process(app);

    voicecheck::DiagnosticsOptions options;
    options.ProgramVersion = version;
    voicecheck::RavekDiagnostics window(options);
    QApplication::setLayoutDirection(window.layoutDirection());
    window.show();
    return QApplication::exec();
}

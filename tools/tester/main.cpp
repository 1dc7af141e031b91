// EngineTester: a window that drives the RavekVoice engine over D-Bus and shows its events.
#include <QApplication>
#include <QCommandLineParser>
#include <QDBusConnection>

#include <cstdio>

#include "ManageCodePage.h"
#include "ToolWindow.h"
#include "fTesterVoice.h"

namespace {

void DescribeOptions(QCommandLineParser& parser, const QCommandLineOption& busOption) {
    parser.setApplicationDescription(QStringLiteral(
        "Drives the RavekVoice engine (org.ravek.RavekVoice on the session bus) with an engine object of its own:\n"
        "initialise, list and select voices, speak typed text, stop, set the volume, count and export a voice's\n"
        "words, and check a word list (Analyze Dictionary File: words.txt gives words.out with the lines the\n"
        "active voice lacks). The engine's events SpeechStart, WordStart and Speechend are shown as they arrive.\n"
        "The language (and so right-to-left layout and the sentence font) comes from the registry file\n"
        "($RAVEK_REGISTRY) or the POSIX locale. Qt's options (-platform, -reverse...) are accepted too."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(busOption);
}

}  // namespace

int main(int argc, char** argv) {
    const QCommandLineOption busOption(QStringLiteral("bus"),
                                       QStringLiteral("Talk to the engine on the bus at <address> instead of the session bus."),
                                       QStringLiteral("address"));
    if (ravekqt::AnsweredWithoutWindow(argc, argv)) {
        // Help needs no display.
        QCoreApplication app(argc, argv);
        ravekqt::IdentifyTool(QStringLiteral("EngineTester"), QStringLiteral(PROJECT_VERSION));
        QCommandLineParser parser;
        DescribeOptions(parser, busOption);
        parser.process(app);
        return 0;
    }
    QApplication app(argc, argv);
    ravekqt::IdentifyTool(QStringLiteral("EngineTester"), QStringLiteral(PROJECT_VERSION), QStringLiteral("org.ravek.EngineTester"));
    QCommandLineParser parser;
    DescribeOptions(parser, busOption);
    parser.process(app);

    const ravekqt::ToolLanguage language = ravekqt::SystemLanguage();
    QApplication::setLayoutDirection(ravekqt::LayoutDirectionOf(language.Index));

    const QDBusConnection bus = parser.isSet(busOption)
                                    ? QDBusConnection::connectToBus(parser.value(busOption), QStringLiteral("engine"))
                                    : QDBusConnection::sessionBus();
    ravektester::TesterOptions options;
    options.ProgramFolder = QCoreApplication::applicationDirPath();
    options.LanguageIndex = language.Index;
    options.Charset = language.Charset;
    options.AnsiCodePage = ManageCodePage::GetLanguageAnsiCodePage(language.Index);
    ravektester::fTesterVoice window(bus, options);
    window.show();
    return QApplication::exec();
}

// VoiceCheck as a screen reader sees it: the program runs under Xvfb with Qt's AT-SPI bridge on a
// Hebrew fixture installation, and atspi_voicecheck.py finds every control by role and name,
// types a new log level into its drop-down, presses Save and reads the value back from the
// registry file.
#include <QStandardPaths>
#include <QtTest>

#include "Installation.h"
#include "XServer.h"

class VoiceCheckAtspiTest : public QObject {
    Q_OBJECT
private slots:
    void screenReaderChangesTheLogLevel();
};

void VoiceCheckAtspiTest::screenReaderChangesTheLogLevel() {
    for (const char* tool : {"Xvfb", "dbus-run-session"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            QFAIL(qPrintable(QStringLiteral("%1 is missing: run scripts/install-deps.sh").arg(QLatin1String(tool))));
    ravektest::Installation installation;  // $RAVEK_REGISTRY for VoiceCheck
    const auto run = ravektest::RunInXServer(QStringLiteral("dbus-run-session"),
                                             {QStringLiteral("--"), QStringLiteral("/usr/bin/python3"),
                                              QStringLiteral(RAVEK_VOICECHECK_ATSPI_SCRIPT), QStringLiteral(RAVEK_VOICECHECK)});
    QVERIFY2(run.Passed, qPrintable(run.Output));
    const std::string registry = ravektest::ReadFileBytes(installation.RegistryFile());
    QVERIFY2(registry.find("\"LogLevel\"=\"1\"\r\n") != std::string::npos, registry.c_str());
    qInfo().noquote() << run.Output.trimmed();
}

QTEST_GUILESS_MAIN(VoiceCheckAtspiTest)
#include "test_voicecheck_atspi.moc"

// VoiceCheck as a screen reader sees it: the program runs under Xvfb with Qt's AT-SPI bridge on a
// Hebrew fixture installation, and atspi_voicecheck.py finds every control by role and name,
// types a new log level into its drop-down, presses Save and reads the value back from the
// registry file.
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include "Installation.h"

class VoiceCheckAtspiTest : public QObject {
    Q_OBJECT
private slots:
    void screenReaderChangesTheLogLevel();
};

void VoiceCheckAtspiTest::screenReaderChangesTheLogLevel() {
    for (const char* tool : {"xvfb-run", "Xvfb", "xauth"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            QFAIL(qPrintable(QStringLiteral("%1 is missing: run scripts/install-deps.sh").arg(QLatin1String(tool))));
    ravektest::Installation installation;  // $RAVEK_REGISTRY for VoiceCheck
    QProcess run;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.remove(QStringLiteral("DISPLAY"));
    run.setProcessEnvironment(env);
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(QStringLiteral("xvfb-run"), {QStringLiteral("-a"), QStringLiteral("-s"), QStringLiteral("-screen 0 1024x768x24"),
                                           QStringLiteral("dbus-run-session"), QStringLiteral("--"), QStringLiteral("/usr/bin/python3"),
                                           QStringLiteral(RAVEK_VOICECHECK_ATSPI_SCRIPT), QStringLiteral(RAVEK_VOICECHECK)});
    QVERIFY(run.waitForStarted());
    const bool finished = run.waitForFinished(120000);
    const QString output = QString::fromUtf8(run.readAll());
    if (!finished) run.kill();
    QVERIFY2(finished, qPrintable(output));
    QVERIFY2(run.exitStatus() == QProcess::NormalExit && run.exitCode() == 0, qPrintable(output));
    const std::string registry = ravektest::ReadFileBytes(installation.RegistryFile());
    QVERIFY2(registry.find("\"LogLevel\"=\"1\"\r\n") != std::string::npos, registry.c_str());
    qInfo().noquote() << output.trimmed();
}

QTEST_GUILESS_MAIN(VoiceCheckAtspiTest)
#include "test_voicecheck_atspi.moc"

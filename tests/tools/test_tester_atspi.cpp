// EngineTester as a screen reader sees it: the program runs under Xvfb with Qt's AT-SPI bridge,
// and atspi_tester.py finds its controls by role and name, types, presses "Say" and reads
// "Speech Ended." from the "Message" label (see the script). The engine runs on a private bus.
#include <gio/gio.h>

#include "PrivateBus.h"

#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include "Installation.h"

class TesterAtspiTest : public QObject {
    Q_OBJECT
private slots:
    void screenReaderDrivesTheWindow();
};

void TesterAtspiTest::screenReaderDrivesTheWindow() {
    for (const char* tool : {"xvfb-run", "Xvfb", "xauth"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            QFAIL(qPrintable(QStringLiteral("%1 is missing: run scripts/install-deps.sh").arg(QLatin1String(tool))));
    ravektest::InstallationOptions options;
    options.Registry["AudioSink"] = ravektest::RegValue::String("fakesink sync=true");
    ravektest::Installation installation(options);  // $RAVEK_REGISTRY for the engine and the tester
    ravektest::PrivateBus bus;

    QProcess run;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QString::fromStdString(bus.Address()));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.remove(QStringLiteral("DISPLAY"));
    run.setProcessEnvironment(env);
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(QStringLiteral("xvfb-run"), {QStringLiteral("-a"), QStringLiteral("-s"), QStringLiteral("-screen 0 1024x768x24"),
                                           QStringLiteral("/usr/bin/python3"), QStringLiteral(RAVEK_ATSPI_SCRIPT),
                                           QStringLiteral(RAVEK_ENGINE_TESTER)});
    QVERIFY(run.waitForStarted());
    const bool finished = run.waitForFinished(120000);
    const QString output = QString::fromUtf8(run.readAll());
    if (!finished) run.kill();
    QVERIFY2(finished, qPrintable(output));
    QVERIFY2(run.exitStatus() == QProcess::NormalExit && run.exitCode() == 0, qPrintable(output));
    qInfo().noquote() << output.trimmed();
}

QTEST_GUILESS_MAIN(TesterAtspiTest)
#include "test_tester_atspi.moc"

// EngineTester as a screen reader sees it: the program runs under Xvfb with Qt's AT-SPI bridge,
// and atspi_tester.py finds its controls by role and name, types, presses "Say" and reads
// "Speech Ended." from the "Message" label (see the script). The engine runs on a private bus.
#include <gio/gio.h>

#include "PrivateBus.h"

#include <QStandardPaths>
#include <QtTest>

#include "Installation.h"
#include "XServer.h"

class TesterAtspiTest : public QObject {
    Q_OBJECT
private slots:
    void screenReaderDrivesTheWindow();
};

void TesterAtspiTest::screenReaderDrivesTheWindow() {
    for (const char* tool : {"Xvfb"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            QFAIL(qPrintable(QStringLiteral("%1 is missing: run scripts/install-deps.sh").arg(QLatin1String(tool))));
    ravektest::InstallationOptions options;
    options.Registry["AudioSink"] = ravektest::RegValue::String("fakesink sync=true");
    ravektest::Installation installation(options);  // $RAVEK_REGISTRY for the engine and the tester
    ravektest::PrivateBus bus;

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QString::fromStdString(bus.Address()));
    const auto run = ravektest::RunInXServer(QStringLiteral("/usr/bin/python3"),
                                             {QStringLiteral(RAVEK_ATSPI_SCRIPT), QStringLiteral(RAVEK_ENGINE_TESTER)}, env);
    QVERIFY2(run.Passed, qPrintable(run.Output));
    qInfo().noquote() << run.Output.trimmed();
}

QTEST_GUILESS_MAIN(TesterAtspiTest)
#include "test_tester_atspi.moc"

// BackupRecordings as a screen reader sees it: the program runs under Xvfb with Qt's AT-SPI
// bridge, and atspi_backup.py finds its controls by role and name, presses the start button and
// reads the status (see the script).
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include "Installation.h"

class BackupAtspiTest : public QObject {
    Q_OBJECT
private slots:
    void screenReaderPacksTheRecordings();
};

void BackupAtspiTest::screenReaderPacksTheRecordings() {
    for (const char* tool : {"xvfb-run", "Xvfb", "xauth", "dbus-run-session"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            QFAIL(qPrintable(QStringLiteral("%1 is missing: run scripts/install-deps.sh").arg(QLatin1String(tool))));
    ravektest::TempFolder temp;
    const std::filesystem::path root = temp.Path() / "MyRecords";
    ravektest::WriteFileBytes(temp.Path() / "registry.reg",
                              "Windows Registry Editor Version 5.00\n\n"
                              "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Nls\\Language]\n\"Default\"=\"0409\"\n\n"
                              "[HKEY_LOCAL_MACHINE\\Software\\RavekVoice]\n\"MyRecordsPath\"=\"" + root.string() + "\"\n\n"
                              "[HKEY_LOCAL_MACHINE\\Software\\RavekVoice\\EN]\n\"MaleVoiceName\"=\"Dan\"\n\"FemaleVoiceName\"=\"Noa\"\n");
    ravektest::WriteFileBytes(root / "Dan" / "hello.wav", std::string(2000, 'a'));

    QProcess run;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("RAVEK_REGISTRY"), QString::fromStdString((temp.Path() / "registry.reg").string()));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    run.setProcessEnvironment(env);
    run.setProcessChannelMode(QProcess::MergedChannels);
    // A session bus of its own for the AT-SPI bus, inside a private X server.
    run.start(QStringLiteral("xvfb-run"), {QStringLiteral("-a"), QStringLiteral("-s"), QStringLiteral("-screen 0 1024x768x24"),
                                           QStringLiteral("dbus-run-session"), QStringLiteral("--"), QStringLiteral("/usr/bin/python3"),
                                           QStringLiteral(RAVEK_ATSPI_BACKUP_SCRIPT), QStringLiteral(RAVEK_BACKUP)});
    QVERIFY(run.waitForStarted());
    const bool finished = run.waitForFinished(120000);
    const QString output = QString::fromUtf8(run.readAll());
    if (!finished) run.kill();
    QVERIFY2(finished, qPrintable(output));
    QVERIFY2(run.exitStatus() == QProcess::NormalExit && run.exitCode() == 0, qPrintable(output));
    qInfo().noquote() << output.trimmed();
    bool archived = false;
    for (const auto& entry : std::filesystem::directory_iterator(root)) archived = archived || entry.path().extension() == ".zip";
    QVERIFY(archived);
}

QTEST_GUILESS_MAIN(BackupAtspiTest)
#include "test_backup_atspi.moc"

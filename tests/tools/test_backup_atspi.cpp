// BackupRecordings as a screen reader sees it: the program runs under Xvfb with Qt's AT-SPI
// bridge, and atspi_backup.py finds its controls by role and name, presses the start button and
// reads the status (see the script).
#include <QStandardPaths>
#include <QtTest>

#include "Installation.h"
#include "XServer.h"

class BackupAtspiTest : public QObject {
    Q_OBJECT
private slots:
    void screenReaderPacksTheRecordings();
};

void BackupAtspiTest::screenReaderPacksTheRecordings() {
    for (const char* tool : {"Xvfb", "dbus-run-session"})
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

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("RAVEK_REGISTRY"), QString::fromStdString((temp.Path() / "registry.reg").string()));
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    // A session bus of its own for the AT-SPI bus, inside a private X server.
    const auto run = ravektest::RunInXServer(QStringLiteral("dbus-run-session"),
                                             {QStringLiteral("--"), QStringLiteral("/usr/bin/python3"),
                                              QStringLiteral(RAVEK_ATSPI_BACKUP_SCRIPT), QStringLiteral(RAVEK_BACKUP)}, env);
    QVERIFY2(run.Passed, qPrintable(run.Output));
    qInfo().noquote() << run.Output.trimmed();
    bool archived = false;
    for (const auto& entry : std::filesystem::directory_iterator(root)) archived = archived || entry.path().extension() == ".zip";
    QVERIFY(archived);
}

QTEST_GUILESS_MAIN(BackupAtspiTest)
#include "test_backup_atspi.moc"

// The backup and restore windows on the offscreen platform: controls and captions in the
// language, the voice choice and the archive path, packing and extracting through the buttons,
// and pictures of both windows (backup-window.png, restore-window.png in the build tree).
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include "Installation.h"
#include "backup/Form1.h"
#include "restore/Form1.h"

namespace fs = std::filesystem;

class ArchiveWindowsTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void backupWindowPacksTheChosenVoice();
    void backupWindowRefusesBadPaths();
    void restoreWindowRecognisesTheVoiceAndExtracts();

private:
    template <typename T>
    static T* Control(QWidget& window, const char* name) {
        T* control = window.findChild<T*>(QString::fromLatin1(name));
        if (!control) qFatal("no control %s", name);
        return control;
    }
    // The box gets the focus, is typed into and loses the focus again.
    static void Type(QLineEdit* box, const QString& text) {
        QFocusEvent in(QEvent::FocusIn, Qt::TabFocusReason);
        QApplication::sendEvent(box, &in);
        box->setText(text);
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(box, &out);
    }
    fs::path Root() const { return temp_->Path() / "MyRecords"; }

    std::unique_ptr<ravektest::TempFolder> temp_;
};

void ArchiveWindowsTest::init() {
    temp_ = std::make_unique<ravektest::TempFolder>();
    ravektest::WriteFileBytes(temp_->Path() / "registry.reg",
                              "Windows Registry Editor Version 5.00\n\n"
                              "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Nls\\Language]\n\"Default\"=\"040d\"\n\n"
                              "[HKEY_LOCAL_MACHINE\\Software\\RavekVoice]\n\"MyRecordsPath\"=\"" + Root().string() +
                                  "\"\n\"MaleVoiceName\"=\"Dan\"\n\"FemaleVoiceName\"=\"Noa\"\n");
    qputenv("RAVEK_REGISTRY", QByteArray::fromStdString((temp_->Path() / "registry.reg").string()));
    ravektest::WriteFileBytes(Root() / "Dan" / "שלום.wav", std::string(3000, 'a'));
    ravektest::WriteFileBytes(Root() / "Dan" / "sub" / "תודה.wav", std::string(5000, 'b'));
    ravektest::WriteFileBytes(Root() / "Dan" / "notes.txt", "not a recording");
    ravektest::WriteFileBytes(Root() / "Noa" / "בוקר.mp3", std::string(4000, 'c'));
}

void ArchiveWindowsTest::cleanup() {
    qunsetenv("RAVEK_REGISTRY");
    temp_.reset();
}

void ArchiveWindowsTest::backupWindowPacksTheChosenVoice() {
    ravekbackup::Form1 window(ravekbackup::ReadBackupSettings());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.windowTitle(), QStringLiteral("יצירת מארז הקלטות"));
    QCOMPARE(window.layoutDirection(), Qt::RightToLeft);
    QCOMPARE(Control<QPushButton>(window, "cmdGo")->text(), QStringLiteral("התחל"));
    QCOMPARE(Control<QPushButton>(window, "cmdChange")->text(), QStringLiteral("שנה..."));
    QCOMPARE(Control<QGroupBox>(window, "Frame1")->title(), QStringLiteral("בחר קול"));
    auto* path = Control<QLineEdit>(window, "lblText");
    QVERIFY(Control<QRadioButton>(window, "Option1")->isChecked());
    QVERIFY(path->text().startsWith(QString::fromStdString(Root().string()) + QStringLiteral("/Dan_")));

    // The female voice: a fresh name, the same folder.
    Control<QRadioButton>(window, "Option2")->click();
    QVERIFY(window.ArchiveName().startsWith(QStringLiteral("Noa_")));
    Control<QRadioButton>(window, "Option1")->click();
    QVERIFY(window.ArchiveName().startsWith(QStringLiteral("Dan_")));

    Control<QPushButton>(window, "cmdGo")->click();
    const QString status = Control<QLabel>(window, "lblProgress")->text();
    QVERIFY2(status.startsWith(QStringLiteral("תהליך הדחיסה הסתיים בהצלחה")), qPrintable(status));
    QVERIFY(status.endsWith(window.ArchiveName()));
    QVERIFY(fs::exists(Root() / window.ArchiveName().toStdString()));
    auto* log = Control<QListWidget>(window, "lstLog");
    QCOMPARE(log->count(), 3);  // two recordings and the folder that holds one
    QVERIFY(log->item(0)->text().startsWith(QStringLiteral("דוחס")));
    QVERIFY(Control<QPushButton>(window, "cmdGo")->isEnabled());
    window.grab().save(QStringLiteral(RAVEK_BUILD_DIR "/backup-window.png"));

    // A voice without recordings: the failure shows, no archive appears.
    Control<QRadioButton>(window, "Option2")->click();
    fs::remove_all(Root() / "Noa");
    Control<QPushButton>(window, "cmdGo")->click();
    QCOMPARE(Control<QLabel>(window, "lblProgress")->text(), QStringLiteral("דחיסה נכשלה"));
    QVERIFY(!fs::exists(Root() / window.ArchiveName().toStdString()));
}

void ArchiveWindowsTest::backupWindowRefusesBadPaths() {
    ravekbackup::Form1 window(ravekbackup::ReadBackupSettings());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto* path = Control<QLineEdit>(window, "lblText");
    const QString original = path->text();
    struct Case {
        QString Typed;
        QString Message;
    };
    for (const Case& c : {Case{QString(), QStringLiteral("שם קובץ לא חוקי")}, Case{QStringLiteral("noslash.zip"), QStringLiteral("ספרייה לא חוקית")},
                          Case{QStringLiteral("/no/such/folder/x.zip"), QStringLiteral("ספרייה לא חוקית")}}) {
        Type(path, c.Typed);
        QTRY_VERIFY(window.findChild<QMessageBox*>(QStringLiteral("MessageBox")));
        auto* box = window.findChild<QMessageBox*>(QStringLiteral("MessageBox"));
        QCOMPARE(box->text(), c.Message);
        QCOMPARE(path->text(), original);
        box->close();
        QTRY_VERIFY(!window.findChild<QMessageBox*>(QStringLiteral("MessageBox")));
    }
    // A folder that exists without a name: a fresh name is made.
    Type(path, QString::fromStdString(temp_->Path().string()) + QLatin1Char('/'));
    QTRY_COMPARE(window.ArchiveFolder(), QString::fromStdString(temp_->Path().string()));
    QVERIFY(window.ArchiveName().startsWith(QStringLiteral("Dan_")));
}

void ArchiveWindowsTest::restoreWindowRecognisesTheVoiceAndExtracts() {
    ravekbackup::BackupJob pack;
    pack.RecordsRoot = QString::fromStdString(Root().string());
    pack.Voice = QStringLiteral("Dan");
    pack.ArchivePath = QString::fromStdString((temp_->Path() / "Dan_01012024_10_00.zip").string());
    pack.Status = [](const QString&) {};
    pack.LogLine = [](const QString&) {};
    QVERIFY(pack.Run());
    ravektest::WriteFileBytes(Root() / "Noa" / "שלום.wav", "kept");

    ravekrestore::Form1 window(ravekrestore::ReadRestoreSettings());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.windowTitle(), QStringLiteral("פותח מארז הקלטות"));
    QVERIFY(Control<QRadioButton>(window, "optOnlyMissing")->isChecked());
    QVERIFY(!Control<QCheckBox>(window, "Check1")->isEnabled());
    QCOMPARE(Control<QRadioButton>(window, "optAll")->toolTip().trimmed().left(6), QStringLiteral("התוכנה"));
    auto* go = Control<QPushButton>(window, "cmdGo");
    QVERIFY(!go->isEnabled());

    // A typed archive whose name holds the male voice: recognised, ready.
    Control<QLineEdit>(window, "Text1")->setText(pack.ArchivePath);
    window.Text1_LostFocus();
    QVERIFY(Control<QRadioButton>(window, "optVoiceTovel")->isChecked());
    QVERIFY(go->isEnabled());
    // Into the female voice's folder instead, keeping what is there.
    Control<QRadioButton>(window, "optVoiceNevi")->click();
    QCOMPARE(window.TargetFolder(), QString::fromStdString((Root() / "Noa").string()));
    go->click();
    QCOMPARE(Control<QLabel>(window, "lblProgress")->text(), QStringLiteral("פתיחת מארז הסתיימה"));
    QCOMPARE(ravektest::ReadFileBytes(Root() / "Noa" / "שלום.wav"), std::string("kept"));
    QCOMPARE(ravektest::ReadFileBytes(Root() / "Noa" / "sub" / "תודה.wav"), std::string(5000, 'b'));
    auto* log = Control<QListWidget>(window, "lstLog");
    QVERIFY(!log->findItems(QStringLiteral("מדלג על: שלום.wav"), Qt::MatchExactly).isEmpty());
    QVERIFY(!log->findItems(QStringLiteral("פותח קובץ   sub/תודה.wav"), Qt::MatchExactly).isEmpty());
    QVERIFY(!go->isEnabled());  // a new archive must be chosen first
    window.grab().save(QStringLiteral(RAVEK_BUILD_DIR "/restore-window.png"));

    // A damaged archive: the failure shows.
    ravektest::WriteFileBytes(temp_->Path() / "Dan_broken.zip", "no archive at all");
    Control<QLineEdit>(window, "Text1")->setText(QString::fromStdString((temp_->Path() / "Dan_broken.zip").string()));
    window.Text1_LostFocus();
    go->click();
    QCOMPARE(Control<QLabel>(window, "lblProgress")->text(), QStringLiteral("פתיחת המארז נכשלה"));
}

QTEST_MAIN(ArchiveWindowsTest)
#include "test_archive_windows.moc"

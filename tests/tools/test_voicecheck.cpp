// VoiceCheck on fixture installations (offscreen): what the main window shows in each language,
// the Hebrew data status for each kind of damaged voice data, the detailed check's lines, the
// version fields of the data files, Save's round trips through the registry and INI files, and
// the writes it must refuse.
#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include <sqlite3.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>

#include "AnsiText.h"
#include "AutomationError.h"
#include "DetailedInformation.h"
#include "Installation.h"
#include "RavekDiagnostics.h"
#include "SettingsWriter.h"
#include "frmAbout.h"
#include "mVersionCOntrol.h"

using namespace voicecheck;
namespace fs = std::filesystem;

namespace {

const std::string kVersion = "1.0:ravektest";
const char* const kMainKey = "[HKEY_LOCAL_MACHINE\\Software\\RavekVoice]";

std::string Cp1255(const std::string& utf8) { return AnsiText::CodecFor(1255).ToAnsi(utf8); }

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    const auto at = text.find(from);
    if (at == std::string::npos) qFatal("\"%s\" is not in the text", from.c_str());
    return text.replace(at, from.size(), to);
}

void Sql(const fs::path& database, const char* statement) {
    sqlite3* db = nullptr;
    QCOMPARE(sqlite3_open(database.c_str(), &db), SQLITE_OK);
    QCOMPARE(sqlite3_exec(db, statement, nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
}

// Galev in three binary files (one clip each, headers 1:C, 2:C and the version); Sevra in one.
ravektest::InstallationOptions ThreeFileOptions() {
    ravektest::InstallationOptions options;
    options.Male.Words = {{"שלום", ravektest::kToneD}, {"עוֹלָם", ravektest::kToneE}, {"בַּיִת", ravektest::kToneF}};
    options.Male.MaxBinSize = 3600;
    options.ExtraRegistryText = "; settings of another program\r\n[HKEY_LOCAL_MACHINE\\Software\\Other]\r\n\"Keep\"=\"me\"\r\n";
    return options;
}

void ReplaceHeader(const fs::path& bin, const std::string& header) {
    std::string bytes = ravektest::ReadFileBytes(bin);
    std::string field = header;
    field.resize(50, ' ');
    ravektest::WriteFileBytes(bin, bytes.replace(0, 50, field));
}

void ReplaceFirstLine(const fs::path& index, const std::string& line) {
    std::string bytes = ravektest::ReadFileBytes(index);
    ravektest::WriteFileBytes(index, line + bytes.substr(bytes.find("\r\n")));
}

}  // namespace

class VoiceCheckTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup();

    void languages_data();
    void languages();
    void dataStatus_data();
    void dataStatus();
    void russianHasNoTexts();
    void detailedCheck_data();
    void detailedCheck();
    void fileVersions_data();
    void fileVersions();
    void saveRoundTrip();
    void policyOutsideTheListIsRemoved();
    void registryEncodingsAreKept_data();
    void registryEncodingsAreKept();
    void refusedWritesAreReported_data();
    void refusedWritesAreReported();
    void showLogAndAbout();

private:
    RavekDiagnostics& Open();
    template <typename T>
    T* Child(QWidget* parent, const char* name) {
        T* child = parent->findChild<T*>(QString::fromLatin1(name));
        if (!child) qFatal("no control %s", name);
        return child;
    }
    // A label's text without the direction isolates around its Latin values.
    QString Label(const char* name) {
        return Child<QLabel>(window_.get(), name)->text().remove(QChar(0x2068)).remove(QChar(0x2069));
    }
    bool IsRed(const char* name) {
        return Child<QLabel>(window_.get(), name)->palette().color(QPalette::WindowText) == QColor(255, 0, 0);
    }
    // The texts of the window's message boxes so far, oldest first (the boxes are closed).
    QStringList TakeMessages();
    QStringList DetailedLines(const std::string& voice);

    std::unique_ptr<ravektest::Installation> installation_;
    std::unique_ptr<RavekDiagnostics> window_;
    QList<QPair<QString, QStringList>> started_;
};

void VoiceCheckTest::cleanup() {
    window_.reset();
    installation_.reset();
    started_.clear();
}

RavekDiagnostics& VoiceCheckTest::Open() {
    DiagnosticsOptions options;
    options.ProgramVersion = QStringLiteral("3.7.0");
    options.Start = [this](const QString& program, const QStringList& arguments) {
        started_.append({program, arguments});
        return true;
    };
    window_ = std::make_unique<RavekDiagnostics>(options);
    window_->show();
    return *window_;
}

QStringList VoiceCheckTest::TakeMessages() {
    QStringList texts;
    for (QMessageBox* box : window_->findChildren<QMessageBox*>(QStringLiteral("MessageBox"))) {
        texts.append(box->text());
        delete box;
    }
    return texts;
}

QStringList VoiceCheckTest::DetailedLines(const std::string& voice) {
    DetailedInformation* detailed = window_->OpenDetailedInformation();
    detailed->CheckVersionInfo(voice);
    QStringList lines;
    auto* list = Child<QListWidget>(detailed, "txtStatus");
    for (int i = 0; i < list->count(); ++i) lines.append(list->item(i)->text().trimmed());
    return lines;
}

// ---- what the window shows ----

void VoiceCheckTest::languages_data() {
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("logLevelCaption");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("spellText");
    QTest::addColumn<bool>("rightToLeft");
    QTest::newRow("Hebrew") << "040d" << "רמת איסוף נתונים" << "Tolvin + - חלון בקרה" << "איות" << true;
    QTest::newRow("Arabic") << "0c01" << "مستوى تجميع المعطيات " << "Sarvel - نافذة رقابة " << "تهجئة " << true;
    QTest::newRow("English") << "0409" << "Log Level" << "Ravek Voice - settings" << "Spell word" << false;
}

void VoiceCheckTest::languages() {
    QFETCH(QString, locale);
    QFETCH(QString, logLevelCaption);
    QFETCH(QString, title);
    QFETCH(QString, spellText);
    QFETCH(bool, rightToLeft);
    ravektest::InstallationOptions options;
    options.LanguageDefault = locale.toStdString();
    options.Registry["Version"] = ravektest::RegValue::String("3.7.1");
    options.Registry["AvoidShortNames"] = ravektest::RegValue::String("1");
    options.Ini["General"]["MissingWordPolicy"] = " SPELL ";
    // The language keys of Arabic and English name the INI file and the dictionary voices.
    for (const char* language : {"AR", "EN"})
        options.ExtraRegistryText += std::string("[HKEY_LOCAL_MACHINE\\Software\\RavekVoice\\") + language +
                                     "]\r\n\"ParametersINIFileName\"=\"RavekParams.ini\"\r\n"
                                     "\"MaleVoiceName1\"=\"Galev\"\r\n\"FemaleVoiceName1\"=\"Sevra\"\r\n";
    installation_ = std::make_unique<ravektest::Installation>(options);
    RavekDiagnostics& window = Open();
    QCOMPARE(TakeMessages(), QStringList());
    QCOMPARE(window.windowTitle(), title);
    QCOMPARE(window.layoutDirection(), rightToLeft ? Qt::RightToLeft : Qt::LeftToRight);
    QCOMPARE(Label("lblLogLevel"), logLevelCaption);
    QCOMPARE(Child<QComboBox>(&window, "cmbLog")->currentText(), QStringLiteral("99"));  // a dword value
    QCOMPARE(Child<QComboBox>(&window, "cmbSequenceLength")->currentText(), QStringLiteral("4"));
    auto* policy = Child<QComboBox>(&window, "cmdMissingWordPolicy");
    QCOMPARE(policy->count(), 2);
    QCOMPARE(policy->currentText(), spellText);  // the INI's value in capitals, with blanks
    QVERIFY(!Child<QCheckBox>(&window, "chkConvert")->isChecked());
    QVERIFY(Child<QCheckBox>(&window, "chkAvoidShortNames")->isChecked());
    QVERIFY(Label("lblVersion").endsWith(QStringLiteral(" 3.7.1")));
    // Drop-downs and check boxes are named by their labels; buttons and menus by their captions.
    for (const char* name : {"cmbLog", "cmbSequenceLength", "cmdMissingWordPolicy", "chkConvert", "chkAvoidShortNames"}) {
        auto* control = Child<QWidget>(&window, name);
        QLabel* label = nullptr;
        for (QLabel* l : window.findChildren<QLabel*>())
            if (l->buddy() == control) label = l;
        QVERIFY2(label, name);
        // Screen readers on Linux name a control by its "labelled by" relation (a drop-down's own
        // name is its value); a check box also carries the label's text as its name.
        QAccessibleInterface* controlInterface = QAccessible::queryAccessibleInterface(control);
        bool labelled = false;
        for (const auto& relation : controlInterface->relations(QAccessible::Label))
            labelled = labelled || relation.first == QAccessible::queryAccessibleInterface(label);
        QVERIFY2(labelled, name);
        if (qobject_cast<QCheckBox*>(control)) QCOMPARE(controlInterface->text(QAccessible::Name), label->text().trimmed());
        QVERIFY2(!control->toolTip().isEmpty(), name);
    }
    // The status labels are the Hebrew system's only.
    for (const char* name : {"lblDataVersion", "lblDataStatus", "lblMyRecordMale", "lblMyRecordsFemale"})
        QCOMPARE(Child<QLabel>(&window, name)->isVisible(), locale == QStringLiteral("040d"));
    if (locale != QStringLiteral("040d")) QCOMPARE(Label("lblDataVersion"), QStringLiteral("גירסת הקלטות"));
    // Pictures of the three windows in each language, in the build tree.
    const QString tag = QString::fromLatin1(QTest::currentDataTag());
    QVERIFY(window.grab().save(QStringLiteral(RAVEK_BUILD_DIR "/voicecheck-%1.png").arg(tag)));
    DetailedInformation* detailed = window.OpenDetailedInformation();
    detailed->CheckVersionInfo("Galev");
    QVERIFY(detailed->grab().save(QStringLiteral(RAVEK_BUILD_DIR "/voicecheck-detailed-%1.png").arg(tag)));
    QVERIFY(window.OpenAbout()->grab().save(QStringLiteral(RAVEK_BUILD_DIR "/voicecheck-about-%1.png").arg(tag)));
}

void VoiceCheckTest::dataStatus_data() {
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("dataVersion");
    QTest::addColumn<QString>("status");  // "" = empty, else its start
    QTest::addColumn<QString>("male");
    QTest::addColumn<QString>("female");
    const QString version = QStringLiteral("גרסת הקלטות: 1.0:ravektest");
    const QString maleOk = QStringLiteral("הקלטות בן-תקין"), femaleOk = QStringLiteral("הקלטות בת-תקין");
    QTest::newRow("consistent") << "" << version << "סטטוס תקין" << maleOk << femaleOk;
    QTest::newRow("no dictionary folder") << "no dictionary" << "גרסת הקלטות: לא מותקן" << "" << maleOk << femaleOk;
    QTest::newRow("no VersionInfo table") << "no table" << "גרסת הקלטות: " << "שגיאה - בסיס נתונים חסר" << maleOk << femaleOk;
    QTest::newRow("index missing") << "no index" << version << "שגיאה - קובץ אינדקס חסר\r\nRavek-Index__Galev.txt" << maleOk << femaleOk;
    QTest::newRow("index version 2.3;0;1") << "index 0;1" << version << "שגיאה - קובץ אינדקס ללא גירסא\r\nRavek-Index__Galev.txt"
                                           << maleOk << femaleOk;
    QTest::newRow("index of another version") << "index 9.9" << version
                                              << "שגיאה - גירסא שגויה של קובץ אינדקס\r\nRavek-Index__Galev.txt\r\n9.9" << maleOk << femaleOk;
    QTest::newRow("duplicate word in the index") << "index duplicate" << version << "שגיאה - קובץ אינדקס פגום\r\nRavek-Index__Galev.txt"
                                                 << maleOk << femaleOk;
    QTest::newRow("bin 2 missing") << "no bin 2" << version << "שגיאה - קובץ הקלטות חסר\r\nRavek-Dict__Galev_2.bin" << maleOk << femaleOk;
    QTest::newRow("bin 2 is a folder") << "bin 2 folder" << version << "שגיאה - קובץ הקלטות חסר\r\nRavek-Dict__Galev_2.bin" << maleOk
                                       << femaleOk;
    QTest::newRow("header without a colon") << "bin 1 no colon" << version << "שגיאה - קובץ הקלטות ללא גירסא\r\nRavek-Dict__Galev_1.bin"
                                            << maleOk << femaleOk;
    QTest::newRow("female bin of another version") << "female bin" << version
                                                   << "שגיאה - גירסא שגויה של קובץ הקלטות\r\nRavek-Dict__Sevra_1.bin\r\n7:7" << maleOk
                                                   << femaleOk;
    QTest::newRow("huge file number") << "huge" << version << "שגיאה - קובץ הקלטות חסר\r\nRavek-Dict__Galev_4.bin" << maleOk << femaleOk;
    QTest::newRow("no recordings root") << "no records" << version << "סטטוס תקין" << "ספרית הקלטות שלי חסרה" << "הקלטות בת";
    QTest::newRow("no female recordings") << "no female records" << version << "סטטוס תקין" << maleOk << "הקלטות בת-ספריה חסרה";
}

void VoiceCheckTest::dataStatus() {
    QFETCH(QString, damage);
    QFETCH(QString, dataVersion);
    QFETCH(QString, status);
    QFETCH(QString, male);
    QFETCH(QString, female);
    installation_ = std::make_unique<ravektest::Installation>(ThreeFileOptions());
    ravektest::Installation& inst = *installation_;
    const std::string line1 = kVersion + ";0;0;0;1";
    if (damage == "no dictionary") fs::remove_all(inst.DictionaryFolder());
    if (damage == "no table") Sql(inst.DatabasePath(), "DROP TABLE VersionInfo");
    if (damage == "no index") fs::remove(inst.IndexFile(0));
    if (damage == "index 0;1") ReplaceFirstLine(inst.IndexFile(0), kVersion + ";0;1;0;1");
    if (damage == "index 9.9") ReplaceFirstLine(inst.IndexFile(0), "9.9;0;0;0;1");
    if (damage == "index duplicate") ravektest::WriteFileBytes(inst.IndexFile(0), ravektest::ReadFileBytes(inst.IndexFile(0)) + line1 + "\r\n");
    if (damage == "no bin 2") fs::remove(inst.BinFile(0, 2));
    if (damage == "bin 2 folder") {
        fs::remove(inst.BinFile(0, 2));
        fs::create_directory(inst.BinFile(0, 2));
    }
    if (damage == "bin 1 no colon") ReplaceHeader(inst.BinFile(0, 1), "1 C");
    if (damage == "female bin") ReplaceHeader(inst.BinFile(1, 1), "7:7");
    if (damage == "huge") {
        ReplaceHeader(inst.BinFile(0, 3), "3:C");
        ravektest::WriteFileBytes(inst.IndexFile(0), ravektest::ReadFileBytes(inst.IndexFile(0)) + "far;51;10;0;2147483647\r\n");
    }
    if (damage == "no records") fs::remove_all(inst.MyRecordsRoot());
    if (damage == "no female records") fs::remove_all(inst.MyRecordsFolder(1));

    QElapsedTimer timer;
    timer.start();
    Open();
    QVERIFY(timer.elapsed() < 5000);
    QCOMPARE(TakeMessages(), QStringList());
    QCOMPARE(Label("lblDataVersion"), dataVersion);
    if (status.isEmpty()) QCOMPARE(Label("lblDataStatus"), QString());
    else QVERIFY2(Label("lblDataStatus").startsWith(status), qPrintable(Label("lblDataStatus")));
    QCOMPARE(IsRed("lblDataStatus"), status.startsWith(QStringLiteral("שגיאה")));
    QCOMPARE(Label("lblMyRecordMale"), male);
    QCOMPARE(Label("lblMyRecordsFemale"), female);
    QCOMPARE(IsRed("lblMyRecordMale"), male.contains(QStringLiteral("חסרה")));
    QCOMPARE(IsRed("lblMyRecordsFemale"), female.contains(QStringLiteral("חסרה")));
}

void VoiceCheckTest::russianHasNoTexts() {
    ravektest::InstallationOptions options;
    options.LanguageDefault = "0419";
    installation_ = std::make_unique<ravektest::Installation>(options);
    RavekDiagnostics& window = Open();
    QCOMPARE(TakeMessages(), QStringList({QStringLiteral("FormMain_LoadCaptions RT error Resource with identifier '2128' not found at row20"),
                                          QStringLiteral("Error in form_load Resource with identifier '2117' not found at 380")}));
    QCOMPARE(Label("lblLogLevel"), QStringLiteral("Log Level"));  // the design-time caption stays
    QVERIFY(!Child<QLabel>(&window, "lblDataStatus")->isVisible());
    QCOMPARE(Child<QComboBox>(&window, "cmbLog")->currentText(), QStringLiteral("99"));  // loading went on
}

// ---- the detailed check ----

void VoiceCheckTest::detailedCheck_data() {
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("voice");
    QTest::addColumn<QStringList>("lines");
    const QString separator(41, QLatin1Char('-'));
    const QString passed = QStringLiteral("Version for voice Galev is 1.0:ravektest : PASSED");
    const QString failed = QStringLiteral("Version for voice Galev is not consistant : FAILED");
    QTest::newRow("three files pass") << "" << "Galev"
                                      << QStringList{"Database version 1.0:ravektest", "Index file version 1.0:ravektest",
                                                     "Expected number of Binary Files 3", "Bin file 1 version 1:C",
                                                     "Bin file 2 version 2:C", "Bin file 3 version 1.0:ravektest", separator, passed};
    QTest::newRow("one file for every entry") << "" << "Sevra"
                                              << QStringList{"Database version 1.0:ravektest", "Index file version 1.0:ravektest",
                                                             "Expected number of Binary Files 1", "Bin file 1 version 1.0:ravektest",
                                                             separator, "Version for voice Sevra is 1.0:ravektest : PASSED"};
    QTest::newRow("wrong header: no extra line") << "bin 2 wrong" << "Galev"
                                                 << QStringList{"Database version 1.0:ravektest", "Index file version 1.0:ravektest",
                                                                "Expected number of Binary Files 3", "Bin file 1 version 1:C",
                                                                "Bin file 2 version 5:C", "Bin file 3 version 1.0:ravektest", separator,
                                                                failed};
    QTest::newRow("every file visited") << "bins 1 2 missing" << "Galev"
                                        << QStringList{"Database version 1.0:ravektest", "Index file version 1.0:ravektest",
                                                       "Expected number of Binary Files 3", "Bin file not found at {dict}/Ravek-Dict__Galev_1.bin",
                                                       "Bin file not found at {dict}/Ravek-Dict__Galev_2.bin",
                                                       "Bin file 3 version 1.0:ravektest", separator, failed};
    QTest::newRow("huge file number ends at the first missing file")
        << "huge" << "Galev"
        << QStringList{"Database version 1.0:ravektest",
                       "Index file version 1.0:ravektest",
                       "Expected number of Binary Files 2147483647",
                       "Bin file 1 version 1:C",
                       "Bin file 2 version 2:C",
                       "Bin file 3 version 3:C",
                       "Bin file not found at {dict}/Ravek-Dict__Galev_4.bin",
                       "Bin files 5 to 2147483647 not found either: none exists after file 3",
                       separator,
                       failed};
    QTest::newRow("index missing") << "no index" << "Galev"
                                   << QStringList{"Database version 1.0:ravektest", "Index file not found at {dict}/Ravek-Index__Galev.txt",
                                                  "Expected number of Binary Files 0", separator, failed};
    QTest::newRow("database without VersionInfo") << "no table" << "Galev"
                                                  << QStringList{"Cannot detect database version", separator, failed};
    QTest::newRow("database that is no database")
        << "garbage db" << "Galev"
        << QStringList{"Path/File access error: cannot open the database {dict}/Ravek.db (file is not a database)",
                       "Cannot detect database version", separator, failed};
}

void VoiceCheckTest::detailedCheck() {
    QFETCH(QString, damage);
    QFETCH(QString, voice);
    QFETCH(QStringList, lines);
    installation_ = std::make_unique<ravektest::Installation>(ThreeFileOptions());
    ravektest::Installation& inst = *installation_;
    if (damage == "bin 2 wrong") ReplaceHeader(inst.BinFile(0, 2), "5:C");
    if (damage == "bins 1 2 missing") fs::remove(inst.BinFile(0, 1)), fs::remove(inst.BinFile(0, 2));
    if (damage == "huge") {
        ReplaceHeader(inst.BinFile(0, 3), "3:C");
        ravektest::WriteFileBytes(inst.IndexFile(0), ravektest::ReadFileBytes(inst.IndexFile(0)) + "far;51;10;0;2147483647\r\n");
    }
    if (damage == "no index") fs::remove(inst.IndexFile(0));
    if (damage == "no table") Sql(inst.DatabasePath(), "DROP TABLE VersionInfo");
    if (damage == "garbage db") ravektest::WriteFileBytes(inst.DatabasePath(), std::string(4096, 'x'));
    Open();
    TakeMessages();
    QElapsedTimer timer;
    timer.start();
    const QString dict = QString::fromStdString(inst.DictionaryFolder().string());
    lines.replaceInStrings(QStringLiteral("{dict}"), dict);
    QCOMPARE(DetailedLines(voice.toStdString()), lines);
    QVERIFY(timer.elapsed() < 5000);
    // The window's own voices: the options carry the registry's names, the first one chosen.
    DetailedInformation* detailed = window_->OpenDetailedInformation();
    QCOMPARE(detailed, window_->OpenDetailedInformation());  // one instance
    QCOMPARE(Child<QRadioButton>(detailed, "Option1")->text(), QStringLiteral("Galev"));
    QCOMPARE(Child<QRadioButton>(detailed, "Option2")->text(), QStringLiteral("Sevra"));
    QVERIFY(Child<QRadioButton>(detailed, "Option1")->isChecked());
}

// ---- version fields ----

void VoiceCheckTest::fileVersions_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("version");
    QTest::newRow("index 2.3;0;0 and more fields") << 1 << QByteArray("2.3;0;0;x;1\r\nw;51;10;0;1\r\n") << true << "2.3";
    QTest::newRow("index version kept untrimmed") << 1 << QByteArray(" 2.3 ;0;0;0;1") << true << " 2.3 ";
    QTest::newRow("index 0.0 twice") << 1 << QByteArray("2.3;0.0;0.0;0;1") << true << "2.3";
    QTest::newRow("index 2.3;0;1") << 1 << QByteArray("2.3;0;1;0;1") << false << "";
    QTest::newRow("index 2.3;x;x") << 1 << QByteArray("2.3;x;x;0;1") << false << "";
    QTest::newRow("index 2.3;0 and 00") << 1 << QByteArray("2.3;0;00;0;1") << false << "";
    QTest::newRow("index empty") << 1 << QByteArray() << false << "";
    QTest::newRow("index Hebrew version in 1255") << 1 << QByteArray::fromStdString(Cp1255("גרסה;0;0;0;1")) << true << "גרסה";
    QTest::newRow("bars v|v|False") << 2 << QByteArray("4.1|4.1|False\r\n") << true << "4.1";
    QTest::newRow("bars v|v|True") << 2 << QByteArray("4.1|4.1|True") << false << "";
    QTest::newRow("header padded") << 3 << QByteArray("1:C") + QByteArray(47, ' ') + QByteArray("\xFF\xFB") << true
                                   << "1:C" + QString(47, QLatin1Char(' '));
    QTest::newRow("short file padded to 50") << 3 << QByteArray("7:C") << true << "7:C" + QString(47, QLatin1Char(' '));
    QTest::newRow("header without colon") << 3 << QByteArray(60, 'a') << false << "";
    QTest::newRow("kind 0") << 0 << QByteArray("1:C") << false << "";
    QTest::newRow("kind 4") << 4 << QByteArray("1:C") << false << "";
}

void VoiceCheckTest::fileVersions() {
    QFETCH(int, kind);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, found);
    QFETCH(QString, version);
    ravektest::TempFolder folder;
    ravektest::WriteFileBytes(folder / "file", bytes.toStdString());
    std::string got = "unchanged";
    QCOMPARE(mVersionCOntrol::GetFileVersion((folder / "file").string(), kind, got), found);
    QCOMPARE(QString::fromStdString(got), found ? version : QStringLiteral("unchanged"));
    // A folder in place of the file is a failure that names it, for every kind that reads.
    if (kind >= 1 && kind <= 3) {
        fs::create_directory(folder / "folder");
        QVERIFY_THROWS_EXCEPTION(AutomationError, mVersionCOntrol::GetFileVersion((folder / "folder").string(), kind, got));
    }
}

// ---- saving ----

void VoiceCheckTest::saveRoundTrip() {
    ravektest::InstallationOptions options = ThreeFileOptions();
    options.Ini["General"]["MissingWordPolicy"] = "beep";
    options.ExtraRegistryText += "; the end\r\n";
    installation_ = std::make_unique<ravektest::Installation>(options);
    const std::string registry = ravektest::ReadFileBytes(installation_->RegistryFile());
    const std::string ini = ravektest::ReadFileBytes(installation_->IniPath());
    RavekDiagnostics& window = Open();
    Child<QComboBox>(&window, "cmbLog")->setCurrentText(QStringLiteral("1"));
    Child<QComboBox>(&window, "cmbSequenceLength")->setEditText(QStringLiteral(" 6 "));
    auto* policy = Child<QComboBox>(&window, "cmdMissingWordPolicy");
    policy->setCurrentIndex(policy->findText(QStringLiteral("איות")));
    Child<QCheckBox>(&window, "chkConvert")->setChecked(true);
    QTest::mouseClick(Child<QPushButton>(&window, "cmdSave"), Qt::LeftButton);
    QCOMPARE(TakeMessages(), QStringList());
    // String values in place of the old ones, everything else byte for byte.
    std::string expected = Replaced(registry, "\"LogLevel\"=dword:00000063", "\"LogLevel\"=\"1\"");
    expected = Replaced(expected, "\"SequenceLen\"=\"4\"", "\"SequenceLen\"=\"6\"");
    expected = Replaced(expected, "\"ConvertMP32WAV\"=\"0\"", "\"ConvertMP32WAV\"=\"1\"");
    QCOMPARE(ravektest::ReadFileBytes(installation_->RegistryFile()), expected);
    QCOMPARE(ravektest::ReadFileBytes(installation_->IniPath()), Replaced(ini, "MissingWordPolicy=beep", "MissingWordPolicy=Spell"));
    // A window opened afterwards shows what was saved.
    Open();
    QCOMPARE(Child<QComboBox>(window_.get(), "cmbLog")->currentText(), QStringLiteral("1"));
    QCOMPARE(Child<QComboBox>(window_.get(), "cmdMissingWordPolicy")->currentText(), QStringLiteral("איות"));
    QVERIFY(Child<QCheckBox>(window_.get(), "chkConvert")->isChecked());
}

void VoiceCheckTest::policyOutsideTheListIsRemoved() {
    ravektest::InstallationOptions options;
    options.Ini["General"]["MissingWordPolicy"] = "sapi5";
    installation_ = std::make_unique<ravektest::Installation>(options);
    const std::string ini = ravektest::ReadFileBytes(installation_->IniPath());
    RavekDiagnostics& window = Open();
    QCOMPARE(Child<QComboBox>(&window, "cmdMissingWordPolicy")->currentIndex(), -1);
    window.Save();
    QCOMPARE(TakeMessages(), QStringList());
    QCOMPARE(ravektest::ReadFileBytes(installation_->IniPath()), Replaced(ini, "MissingWordPolicy=sapi5\r\n", ""));
}

void VoiceCheckTest::registryEncodingsAreKept_data() {
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");
    const std::string hebrew = Cp1255("דן");
    // UTF-8 with a byte order mark and LF; a value in another key's case and a hex value over two lines.
    QTest::newRow("UTF-8, LF, continued hex")
        << QByteArray("\xEF\xBB\xBFWindows Registry Editor Version 5.00\n\n; comment\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\RavekVoice]\n"
                      "\"loglevel\"=hex:01,\\\n  02,\\\n  03\n\"Name\"=\"שלום\"\n")
        << QByteArray("\xEF\xBB\xBFWindows Registry Editor Version 5.00\n\n; comment\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\RavekVoice]\n"
                      "\"loglevel\"=\"5\"\n\"Name\"=\"שלום\"\n");
    QTest::newRow("REGEDIT4 in Windows-1255, value added at the end of its key")
        << QByteArray::fromStdString("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\RavekVoice]\r\n\"MaleVoiceName\"=\"" + hebrew +
                                     "\"\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Other]\r\n\"A\"=\"b\"")
        << QByteArray::fromStdString("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\RavekVoice]\r\n\"MaleVoiceName\"=\"" + hebrew +
                                     "\"\r\n\"LogLevel\"=\"5\"\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Other]\r\n\"A\"=\"b\"");
    QTest::newRow("no such key: added at the end")
        << QByteArray("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Other]\r\n\"A\"=\"b\"")
        << QByteArray("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Other]\r\n\"A\"=\"b\"\r\n\r\n"
                      "[HKEY_LOCAL_MACHINE\\Software\\RavekVoice]\r\n\"LogLevel\"=\"5\"\r\n");
    auto utf16 = [](const QString& text) {
        QByteArray bytes("\xFF\xFE");
        for (QChar c : text) bytes.append(static_cast<char>(c.unicode() & 0xFF)).append(static_cast<char>(c.unicode() >> 8));
        return bytes;
    };
    QTest::newRow("UTF-16LE") << utf16(QStringLiteral("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\RavekVoice]\r\n"
                                                      "\"Name\"=\"שלום\"\r\n\"LogLevel\"=dword:00000063\r\n"))
                              << utf16(QStringLiteral("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\RavekVoice]\r\n"
                                                      "\"Name\"=\"שלום\"\r\n\"LogLevel\"=\"5\"\r\n"));
}

void VoiceCheckTest::registryEncodingsAreKept() {
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    ravektest::TempFolder folder;
    const fs::path file = folder / "registry.reg";
    ravektest::WriteFileBytes(file, before.toStdString());
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    CommonFunc::SetRegistryValue(CommonFunc::RootKey::LocalMachine, "Software\\RavekVoice", "LogLevel", " 5 ", CommonFunc::kRegString, file);
    QCOMPARE(QByteArray::fromStdString(ravektest::ReadFileBytes(file)), after);
    QCOMPARE(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

void VoiceCheckTest::refusedWritesAreReported_data() {
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("file");  // registry / ini
    QTest::addColumn<QString>("reason");
    QTest::newRow("read-only registry file") << "registry read-only" << "registry" << "the file is read-only";
    QTest::newRow("registry file is a folder") << "registry folder" << "registry" << "not a regular file";
    QTest::newRow("malformed registry file") << "registry malformed" << "registry" << "line 3";
    QTest::newRow("read-only INI file") << "ini read-only" << "ini" << "the file is read-only";
    QTest::newRow("missing INI file") << "ini missing" << "ini" << "no such file";
}

void VoiceCheckTest::refusedWritesAreReported() {
    QFETCH(QString, damage);
    QFETCH(QString, file);
    QFETCH(QString, reason);
    installation_ = std::make_unique<ravektest::Installation>();
    const fs::path registry = installation_->RegistryFile(), ini = installation_->IniPath();
    const fs::path target = file == "registry" ? registry : ini;
    Open();
    TakeMessages();
    if (damage.endsWith("read-only")) fs::permissions(target, fs::perms::owner_read | fs::perms::group_read);
    if (damage == "registry folder") fs::remove(registry), fs::create_directory(registry);
    if (damage == "registry malformed") ravektest::WriteFileBytes(registry, "REGEDIT4\r\n\r\n\"LogLevel\"=\"1\"\r\n");
    if (damage == "ini missing") fs::remove(ini);
    const std::string before = fs::is_regular_file(target) ? ravektest::ReadFileBytes(target) : std::string();
    window_->Save();
    const QStringList messages = TakeMessages();
    QCOMPARE(messages.size(), 1);
    QVERIFY2(messages[0].startsWith(QStringLiteral("ההגדרות לא נשמרו")), qPrintable(messages[0]));
    QVERIFY2(messages[0].contains(QString::fromStdString(target.string())), qPrintable(messages[0]));
    QVERIFY2(messages[0].contains(reason), qPrintable(messages[0]));
    if (fs::is_regular_file(target)) QCOMPARE(ravektest::ReadFileBytes(target), before);
    // The other file was written all the same.
    if (file == "ini") QVERIFY(ravektest::ReadFileBytes(registry).find("\"LogLevel\"=\"99\"") != std::string::npos);
}

// ---- the log and the About window ----

void VoiceCheckTest::showLogAndAbout() {
    installation_ = std::make_unique<ravektest::Installation>();
    RavekDiagnostics& window = Open();
    TakeMessages();
    window.ShowLog();
    const QStringList noLog = TakeMessages();
    QCOMPARE(noLog.size(), 1);
    QVERIFY2(noLog[0].contains(QStringLiteral("אין קובץ לוג")) && noLog[0].contains(QStringLiteral("Tolvin_Log.log")), qPrintable(noLog[0]));
    ravektest::WriteFileBytes(installation_->LogFile(), "log\r\n");
    window.ShowLog();
    if (!QStandardPaths::findExecutable(QStringLiteral("xdg-open")).isEmpty()) {
        QCOMPARE(TakeMessages(), QStringList());
        QCOMPARE(started_.size(), 1);
        QCOMPARE(started_[0].second, QStringList{QString::fromStdString(installation_->LogFile().string())});
    } else {
        QVERIFY(TakeMessages().value(0).contains(QStringLiteral("xdg-open")));
    }

    frmAbout* about = window.OpenAbout();
    QCOMPARE(about, window.OpenAbout());
    QCOMPARE(about->windowTitle(), QStringLiteral("About VoiceCheck"));
    QCOMPARE(Child<QLabel>(about, "lblVersion")->text(), QStringLiteral("Version 3.7.0"));
    QCOMPARE(Child<QLabel>(about, "lblTitle")->text(), QStringLiteral("VoiceCheck"));
    QCOMPARE(Child<QPushButton>(about, "cmdSysInfo")->text(), QStringLiteral("&System Info..."));
    // The program the registry names comes first; a 32-bit value reads as &h and its bytes.
    const fs::path msinfo = installation_->Root() / "msinfo";
    ravektest::WriteFileBytes(msinfo, "#!/bin/sh\n");
    std::string registry = ravektest::ReadFileBytes(installation_->RegistryFile());
    registry += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Shared Tools\\MSINFO]\r\n\"PATH\"=\"" + msinfo.string() +
                "\"\r\n\"Number\"=dword:0001020a\r\n";
    ravektest::WriteFileBytes(installation_->RegistryFile(), registry);
    std::string value = "unchanged";
    QVERIFY(GetKeyValue("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", "Number", value));
    QCOMPARE(value, std::string("&h012A"));
    QVERIFY(!GetKeyValue("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", "None", value));
    started_.clear();
    QTest::mouseClick(Child<QPushButton>(about, "cmdSysInfo"), Qt::LeftButton);
    QCOMPARE(started_.size(), 1);
    QCOMPARE(started_[0].first, QString::fromStdString(msinfo.string()));
    QCOMPARE(about->findChildren<QMessageBox*>().size(), 0);
}

QTEST_MAIN(VoiceCheckTest)
#include "test_voicecheck.moc"

// The Qt tools' shared pieces and the tester's word-list pass, without an engine: the string
// table, the file dialogs (answered as a user would) and the word-list pass over files.
#include <QApplication>
#include <QFileDialog>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <fstream>

#include "AnsiText.h"
#include "AutomationError.h"
#include "Installation.h"
#include "StringTable.h"
#include "WordList.h"
#include "cCommonDialog.h"

using namespace ravekqt;
using namespace ravektester;

namespace {

// Answers the next file dialog with `answer` once it is shown (the dialog runs its own loop).
void AnswerNextDialog(std::function<void(QFileDialog*)> answer) {
    auto* poll = new QTimer;
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, [poll, answer] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            poll->stop();
            poll->deleteLater();
            answer(dialog);
        }
    });
    poll->start();
}

std::string Cp1255(const char* utf8) { return AnsiText::CodecFor(1255).ToAnsi(utf8); }

}  // namespace

class QtSharedTest : public QObject {
    Q_OBJECT
private slots:
    void stringTableTexts_data();
    void stringTableTexts();
    void stringTableErrors();
    void filterTexts_data();
    void filterTexts();
    void openDialogConfirmed();
    void openDialogCancelledClearsTheAnswer();
    void dialogRefusesWhatDoesNotFit();
    void saveDialogAddsTheDefaultExtension();
    void wordListLines();
    void wordListOutputPaths_data();
    void wordListOutputPaths();
    void wordListGarbagePassesThrough();
};

void QtSharedTest::stringTableTexts_data() {
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("text");
    // One text of each tool part in each language; blanks at the ends are part of the text.
    QTest::newRow("backup caption, Hebrew") << 130 << QStringLiteral("יצירת מארז הקלטות");
    QTest::newRow("backup caption, English") << 3130 << QStringLiteral("Pack Recordings Bundle");
    QTest::newRow("backup caption, Arabic") << 1130 << QStringLiteral("انتاج رزمة تسجيلات ");
    QTest::newRow("progress 'out of', trailing blank") << 164 << QStringLiteral("מתוך ");
    QTest::newRow("restore tooltip, leading blank") << 160 << QStringLiteral(" התוכנה תעביר לספריית ההקלטות רק קבצים שנמצאים במארז ההקלטות ואינם נמצאים בספריית ההקלטות שלי");
    QTest::newRow("diagnostics caption, Hebrew") << 119 << QStringLiteral("Tolvin + - חלון בקרה");
    QTest::newRow("text with quotes") << 156 << QStringLiteral("בחר מארז הקלטות והקש \"התחל\" ליציאה הקש \"סגור\"");
    QTest::newRow("language name") << 30 << QStringLiteral("ENGLISH");
}

void QtSharedTest::stringTableTexts() {
    QFETCH(int, id);
    QFETCH(QString, text);
    QCOMPARE(LoadResString(id), text);
}

void QtSharedTest::stringTableErrors() {
    // Every id the three tools use exists in the three languages.
    for (long id = 110; id <= 164; ++id) {
        if (id == 146) continue;  // no tool asks for it
        for (long offset : {kHebrewOffset, kArabicOffset, kEnglishOffset})
            QVERIFY2(StringTable::Tools().Contains(id + offset), qPrintable(QString::number(id + offset)));
    }
    // A missing id is an error the caller sees (Russian has no texts).
    for (long id : {146L, 2130L, 999L}) {
        try {
            LoadResString(id);
            QFAIL("a missing id gave a text");
        } catch (const AutomationError& e) {
            QCOMPARE(e.Number(), 326);
            QVERIFY(e.Description().find(std::to_string(id)) != std::string::npos);
        }
    }
    QVERIFY_THROWS_EXCEPTION(AutomationError, StringTable::Parse(QStringLiteral("# note\n12\tonly Hebrew\n")));
    QCOMPARE(StringTable::Parse(QStringLiteral("7\tא\t\tB\r\n")).Size(), 2);  // an empty column is no text
}

void QtSharedTest::filterTexts_data() {
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QStringList>("nameFilters");
    QTest::newRow("default") << QStringLiteral("All (*.*)| *.*") << QStringList{QStringLiteral("All (*)")};
    QTest::newRow("colon separators") << QStringLiteral("Zip(*.zip):*.zip:Text:*.txt;*.lst")
                                      << QStringList{QStringLiteral("Zip (*.zip)"), QStringLiteral("Text (*.txt *.lst)")};
    QTest::newRow("bars") << QStringLiteral("Zip(*.zip)|*.zip|Text|*.txt;*.lst")
                          << QStringList{QStringLiteral("Zip (*.zip)"), QStringLiteral("Text (*.txt *.lst)")};
    QTest::newRow("description without pattern") << QStringLiteral("Words|*.txt") << QStringList{QStringLiteral("Words (*.txt)")};
    QTest::newRow("odd part ignored") << QStringLiteral("Words|*.txt|Lonely") << QStringList{QStringLiteral("Words (*.txt)")};
}

void QtSharedTest::filterTexts() {
    QFETCH(QString, filter);
    QFETCH(QStringList, nameFilters);
    QStringList got;
    for (const DialogFilter& f : cCommonDialog::ParseFilter(filter)) got.append(cCommonDialog::NameFilterOf(f));
    QCOMPARE(got, nameFilters);
}

void QtSharedTest::openDialogConfirmed() {
    QTemporaryDir dir;
    const QString chosen = dir.filePath(QStringLiteral("list.txt"));
    QFile(chosen).open(QIODevice::WriteOnly);
    QWidget owner;
    owner.show();
    cCommonDialog dialog;
    OpenFileArgs args;
    args.Filter = QStringLiteral("Zip(*.zip):*.zip:Text:*.txt");
    args.FilterIndex = 2;
    args.InitDir = dir.path();
    args.DlgTitle = QStringLiteral("Choose a list");
    args.DefaultExt = QStringLiteral("zip");
    args.Owner = cCommonDialog::OwnerOf(&owner);
    args.Flags = DialogFlags::EnableHook | DialogFlags::PathMustExist;
    QString shownTitle, shownFilter;
    QWidget* shownOwner = nullptr;
    QFileDialog::FileMode shownMode = QFileDialog::AnyFile;
    AnswerNextDialog([&](QFileDialog* d) {
        shownTitle = d->windowTitle();
        shownFilter = d->selectedNameFilter();
        shownOwner = d->parentWidget();
        shownMode = d->fileMode();
        d->selectFile(chosen);
        static_cast<QDialog*>(d)->accept();
    });
    QVERIFY(dialog.VBGetOpenFileName(args));
    QCOMPARE(shownTitle, QStringLiteral("Choose a list"));
    QCOMPARE(shownFilter, QStringLiteral("Text (*.txt)"));
    QCOMPARE(shownOwner, &owner);
    QCOMPARE(shownMode, QFileDialog::ExistingFile);
    QCOMPARE(dialog.APIReturn(), 1);
    QCOMPARE(dialog.ExtendedError(), 0);
    QCOMPARE(args.Filename, chosen);
    QCOMPARE(args.FileTitle, QStringLiteral("list.txt"));
    QCOMPARE(args.FilterIndex, 2);
    QCOMPARE(args.Filter, QStringLiteral("Text|*.txt"));
    // The hook bit is dropped; the dialog adds "must exist" and "extension differs from zip".
    QCOMPARE(args.Flags, DialogFlags::PathMustExist | DialogFlags::FileMustExist | DialogFlags::ExtensionDifferent);
    QCOMPARE(dialog.VBGetFileTitle(chosen), QStringLiteral("list.txt"));
}

void QtSharedTest::openDialogCancelledClearsTheAnswer() {
    cCommonDialog dialog;
    OpenFileArgs args;
    args.Filename = QStringLiteral("/tmp/preset.txt");
    args.FileTitle = QStringLiteral("preset.txt");
    args.Flags = DialogFlags::PathMustExist;
    QWidget* shownOwner = reinterpret_cast<QWidget*>(1);
    AnswerNextDialog([&](QFileDialog* d) {
        shownOwner = d->parentWidget();
        d->reject();
    });
    QVERIFY(!dialog.VBGetOpenFileName(args));
    QCOMPARE(shownOwner, nullptr);  // Owner -1: no owner window
    QCOMPARE(dialog.APIReturn(), 0);
    QCOMPARE(dialog.ExtendedError(), 0);
    QVERIFY(args.Filename.isEmpty());
    QVERIFY(args.FileTitle.isEmpty());
    QVERIFY(args.Filter.isEmpty());
    QCOMPARE(args.FilterIndex, -1);
    QCOMPARE(args.Flags, 0);
}

void QtSharedTest::dialogRefusesWhatDoesNotFit() {
    cCommonDialog dialog;
    // A name of 260 characters does not fit the 260-character buffer with its terminator.
    OpenFileArgs tooLong;
    tooLong.Filename = QString(kFileNameBuffer, QLatin1Char('a'));
    QVERIFY(!dialog.VBGetOpenFileName(tooLong));
    QCOMPARE(dialog.ExtendedError(), DialogErrors::BufferTooSmall);
    QVERIFY(tooLong.Filename.isEmpty());
    // An owner that is no window of the program.
    SaveFileArgs noSuchOwner;
    noSuchOwner.Owner = 0x7fff1234;
    QVERIFY(!dialog.VBGetSaveFileName(noSuchOwner));
    QCOMPARE(dialog.ExtendedError(), DialogErrors::DialogFailure);
    QCOMPARE(noSuchOwner.FilterIndex, -1);
    QVERIFY(!QApplication::activeModalWidget());
}

void QtSharedTest::saveDialogAddsTheDefaultExtension() {
    QTemporaryDir dir;
    cCommonDialog dialog;
    SaveFileArgs args;
    args.Filename = dir.filePath(QStringLiteral("backup"));
    args.Filter = QStringLiteral("Zip(*.zip)|*.zip");
    args.DefaultExt = QStringLiteral("zip");
    bool confirmsOverwrite = false;
    AnswerNextDialog([&](QFileDialog* d) {
        confirmsOverwrite = !d->testOption(QFileDialog::DontConfirmOverwrite);
        static_cast<QDialog*>(d)->accept();
    });
    QVERIFY(dialog.VBGetSaveFileName(args));
    QVERIFY(confirmsOverwrite);
    QCOMPARE(args.Filename, dir.filePath(QStringLiteral("backup.zip")));
    QCOMPARE(args.FileTitle, QStringLiteral("backup.zip"));
    QCOMPARE(args.Flags, DialogFlags::OverwritePrompt | DialogFlags::HideReadOnly);
}

void QtSharedTest::wordListLines() {
    ravektest::TempFolder folder;
    const std::string known = Cp1255("שלום"), pointed = Cp1255("עוֹלָם"), phrase = Cp1255("בוקר טוב");
    const std::unordered_set<std::string> words =
        AnsiWords({QStringLiteral("שלום"), QStringLiteral("עוֹלָם"), QStringLiteral("בוקר טוב"), QStringLiteral("日本")}, 1255);
    QCOMPARE(words.size(), size_t(3));  // a word the code page cannot write matches nothing
    // CR LF, LF and a last line without its end; a trailing blank makes a line unknown.
    const std::string list = known + "\r\n" + pointed + "\n" + known + " \r\nzebra\n\r\n" + phrase + "\nx\ry\n" + phrase;
    ravektest::WriteFileBytes(folder / "words.txt", list);
    std::atomic<bool> stop{false};
    const QString out = QString::fromStdString((folder / "words.out").string());
    const WordListResult result =
        AnalyseWordList(QString::fromStdString((folder / "words.txt").string()), out, words, stop);
    QCOMPARE(ravektest::ReadFileBytes(folder / "words.out"), known + " \r\nzebra\r\n\r\nx\ry\r\n");
    QCOMPARE(result.Lines, uint64_t(8));
    QCOMPARE(result.Missing, uint64_t(4));
    // Every line known: an empty result file.
    ravektest::WriteFileBytes(folder / "known.txt", known + "\r\n" + phrase + "\r\n");
    AnalyseWordList(QString::fromStdString((folder / "known.txt").string()), out, words, stop);
    QCOMPARE(ravektest::ReadFileBytes(folder / "words.out"), std::string());
    // A missing list and an unwritable result are errors with their numbers.
    try {
        AnalyseWordList(QString::fromStdString((folder / "none.txt").string()), out, words, stop);
        QFAIL("a missing list was analysed");
    } catch (const AutomationError& e) {
        QCOMPARE(e.Number(), 53);
    }
    try {
        AnalyseWordList(QString::fromStdString((folder / "known.txt").string()),
                        QString::fromStdString((folder / "no/such/folder.out").string()), words, stop);
        QFAIL("wrote into a missing folder");
    } catch (const AutomationError& e) {
        QCOMPARE(e.Number(), 75);
    }
}

void QtSharedTest::wordListOutputPaths_data() {
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("output");
    QTest::newRow("txt") << "/data/words.txt" << "/data/words.out";
    QTest::newRow("other extension") << "/data/list.lst" << "/data/list.out";
    QTest::newRow("no extension") << "/data/wordlist" << "/data/wordlout";
    QTest::newRow("short name stays in its folder") << "/data/ab" << "/data/ab.out";
    QTest::newRow("would replace itself") << "/data/words.out" << "";
}

void QtSharedTest::wordListOutputPaths() {
    QFETCH(QString, input);
    QFETCH(QString, output);
    QCOMPARE(WordListOutputPath(input), output);
}

void QtSharedTest::wordListGarbagePassesThrough() {
    // Binary garbage with lines far longer than any word: every line comes out, its end made CR LF,
    // and the pass can be stopped.
    ravektest::TempFolder folder;
    std::string garbage;
    uint32_t seed = 12345;
    for (int i = 0; i < 3 * 1024 * 1024; ++i) {
        seed = seed * 1103515245u + 12345u;
        const char c = static_cast<char>(seed >> 23);
        garbage.push_back(c == '\n' && (i % 7) ? 'n' : c);
    }
    ravektest::WriteFileBytes(folder / "garbage.bin", garbage);
    std::string expected;
    size_t start = 0;
    while (start < garbage.size()) {
        size_t end = garbage.find('\n', start);
        if (end == std::string::npos) end = garbage.size();
        std::string line = garbage.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        expected += line + "\r\n";
        start = end + 1;
    }
    const std::unordered_set<std::string> words = AnsiWords({QStringLiteral("שלום")}, 1255);
    std::atomic<bool> stop{false};
    const QString in = QString::fromStdString((folder / "garbage.bin").string());
    const QString out = QString::fromStdString((folder / "garbage.out").string());
    AnalyseWordList(in, out, words, stop);
    QVERIFY(ravektest::ReadFileBytes(folder / "garbage.out") == expected);
    stop = true;
    QVERIFY(AnalyseWordList(in, out, words, stop).Stopped);
}

QTEST_MAIN(QtSharedTest)
#include "test_qt_shared.moc"

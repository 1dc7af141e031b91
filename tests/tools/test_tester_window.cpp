// The engine tester's window against the engine on a private bus (fake audio sink that plays in
// real time): what each button does, the events shown during real utterances, Stop And Say, the
// voice number check, the word-list check on files, the volume, and what the window does when the
// engine is missing or dies.
// GLib first: its headers use "signals" as a name, which Qt's headers turn into a keyword.
#include <gio/gio.h>

#include "PrivateBus.h"

#include <QAccessible>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <signal.h>

#include <fstream>
#include <memory>
#include <mutex>

#include "AnsiText.h"
#include "Installation.h"
#include "fTesterVoice.h"

using namespace ravektester;

namespace {

const QString kSentence = QStringLiteral("שלום עולם בית ספר");

std::string Cp1255(const char* utf8) { return AnsiText::CodecFor(1255).ToAnsi(utf8); }

// Counts the SetSystemVolume calls that cross the bus, with their arguments.
class VolumeMonitor {
public:
    explicit VolumeMonitor(const std::string& address) {
        GError* error = nullptr;
        connection_ = g_dbus_connection_new_for_address_sync(
            address.c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, &error);
        g_assert_no_error(error);
        g_dbus_connection_add_filter(connection_, &VolumeMonitor::Filter, this, nullptr);
        const gchar* rules[] = {"type='method_call',member='SetSystemVolume'", nullptr};
        GVariant* reply = g_dbus_connection_call_sync(
            connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus.Monitoring",
            "BecomeMonitor", g_variant_new("(^asu)", rules, 0u), nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
        g_assert_no_error(error);
        g_variant_unref(reply);
    }
    ~VolumeMonitor() {
        g_dbus_connection_close_sync(connection_, nullptr, nullptr);
        g_object_unref(connection_);
    }
    QList<QPair<int, int>> Calls() {
        std::lock_guard lock(mutex_);
        return calls_;
    }

private:
    static GDBusMessage* Filter(GDBusConnection*, GDBusMessage* message, gboolean incoming, gpointer self) {
        auto* monitor = static_cast<VolumeMonitor*>(self);
        if (!incoming || g_dbus_message_get_message_type(message) != G_DBUS_MESSAGE_TYPE_METHOD_CALL) return message;
        if (g_strcmp0(g_dbus_message_get_member(message), "SetSystemVolume") == 0) {
            gint16 left = 0, right = 0;
            g_variant_get(g_dbus_message_get_body(message), "(nn)", &left, &right);
            std::lock_guard lock(monitor->mutex_);
            monitor->calls_.append({left, right});
        }
        // A monitor must not answer the calls it watches: the message goes no further.
        g_object_unref(message);
        return nullptr;
    }
    GDBusConnection* connection_ = nullptr;
    std::mutex mutex_;
    QList<QPair<int, int>> calls_;
};

}  // namespace

class TesterWindowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void startShowsEveryControl();
    void voiceButtons_data();
    void voiceButtons();
    void wordCountAndWordList();
    void eventsDuringAnUtterance();
    void stopAndSayCutsSpeechShort();
    void analyseDictionaryFile();
    void analyseHugeFileKeepsTheWindowResponsive();
    void volume_data();
    void volume();
    void engineDyingMidUtterance();
    void closingReleasesTheEngineObject();
    void missingServiceIsReported();

private:
    std::unique_ptr<fTesterVoice> OpenWindow(const QDBusConnection& bus);
    template <typename T>
    T* Child(const char* name) {
        T* child = window_->findChild<T*>(QString::fromLatin1(name));
        if (!child) qFatal("no control %s", name);
        return child;
    }
    void Click(const char* name) { QTest::mouseClick(Child<QPushButton>(name), Qt::LeftButton); }
    // The text of the next message box of the window (closed afterwards); empty when none comes.
    QString TakeMessage(int timeoutMs = 20000);
    // The values textLog takes from now on.
    std::shared_ptr<QStringList> RecordLog();
    void AnswerNextDialogWith(const QString& file);  // "" cancels

    std::unique_ptr<ravektest::Installation> installation_;
    std::unique_ptr<ravektest::PrivateBus> bus_;
    QDBusConnection qbus_{QString()};
    std::unique_ptr<fTesterVoice> window_;
    std::unique_ptr<ravektest::TempFolder> folder_;
};

void TesterWindowTest::initTestCase() {
    ravektest::InstallationOptions options;
    // The fake sink plays in real time, so utterances last long enough to be watched.
    options.Registry["AudioSink"] = ravektest::RegValue::String("fakesink sync=true");
    installation_ = std::make_unique<ravektest::Installation>(options);
    bus_ = std::make_unique<ravektest::PrivateBus>();
    qbus_ = QDBusConnection::connectToBus(QString::fromStdString(bus_->Address()), QStringLiteral("tester-test"));
    QVERIFY(qbus_.isConnected());
}

void TesterWindowTest::init() {
    folder_ = std::make_unique<ravektest::TempFolder>();
    window_ = OpenWindow(qbus_);
    QTRY_COMPARE_WITH_TIMEOUT(Child<QLineEdit>("textLog")->text(), QStringLiteral("Initialized..."), 30000);
}

void TesterWindowTest::cleanup() {
    window_.reset();
    folder_.reset();
}

void TesterWindowTest::cleanupTestCase() {
    QDBusConnection::disconnectFromBus(QStringLiteral("tester-test"));
    bus_.reset();
    installation_.reset();
}

std::unique_ptr<fTesterVoice> TesterWindowTest::OpenWindow(const QDBusConnection& bus) {
    TesterOptions options;
    options.ProgramFolder = QString::fromStdString(folder_->Path().string());
    auto window = std::make_unique<fTesterVoice>(bus, options);
    window->show();
    return window;
}

QString TesterWindowTest::TakeMessage(int timeoutMs) {
    QMessageBox* box = nullptr;
    (void)QTest::qWaitFor([&] { return (box = window_->findChild<QMessageBox*>(QStringLiteral("MessageBox"))) != nullptr; },
                    timeoutMs);
    if (!box) return QString();
    const QString text = box->text();
    QPointer<QMessageBox> closing(box);
    box->accept();
    (void)QTest::qWaitFor([&] { return closing.isNull(); }, 2000);
    return text;
}

std::shared_ptr<QStringList> TesterWindowTest::RecordLog() {
    auto log = std::make_shared<QStringList>();
    connect(Child<QLineEdit>("textLog"), &QLineEdit::textChanged, this, [log](const QString& t) { log->append(t); });
    return log;
}

void TesterWindowTest::AnswerNextDialogWith(const QString& file) {
    auto* poll = new QTimer(this);
    connect(poll, &QTimer::timeout, this, [poll, file] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog) return;
        poll->stop();
        poll->deleteLater();
        if (file.isEmpty()) {
            dialog->reject();
        } else {
            dialog->selectFile(file);
            static_cast<QDialog*>(dialog)->accept();
        }
    });
    poll->start(10);
}

void TesterWindowTest::startShowsEveryControl() {
    const struct {
        const char* name;
        const char* text;
    } buttons[] = {{"cmdSpeak", "Say"},
                   {"btnStopAndSay", "Stop And Say"},
                   {"btnGetNumberOfVoices", "Get Number of Voices"},
                   {"btnGetVoiceName", "get Voice Name"},
                   {"btnSelectVoice", "SelectVoice"},
                   {"Command1", "Get Number of Words in selected voice"},
                   {"Command2", "Create File with all works of selected voice"},
                   {"Command3", "Analyze Dictionary File"}},
      labels[] = {{"Label1", "WordIndex"}, {"Label3", "Voice Number"}, {"Label5", "Volume"},
                  {"Label2", "Label2"},    {"Label4", "Label4"},       {"lblWordIndex", ""},
                  {"lblMessage", "Ready to speech. Type in sentence and press \"Text 2 Speech\" button "}},
      boxes[] = {{"txtText", ""}, {"textLog", "Initialized..."}, {"txtVoiceNUmber", "1"},
                 {"txtVolume", "(enter volume: 1-100)"}};
    for (const auto& b : buttons) QCOMPARE(Child<QPushButton>(b.name)->text(), QString::fromUtf8(b.text));
    for (const auto& l : labels) QCOMPARE(Child<QLabel>(l.name)->text(), QString::fromUtf8(l.text));
    for (const auto& t : boxes) QCOMPARE(Child<QLineEdit>(t.name)->text(), QString::fromUtf8(t.text));
    QCOMPARE(Child<QGroupBox>("Voices")->title(), QStringLiteral("Voice selection"));
    QCOMPARE(window_->objectName(), QStringLiteral("fTesterVoice"));
    QVERIFY(window_->Engine().InstancePath().startsWith(QStringLiteral("/org/ravek/RavekVoice/Instance/")));

    // What a screen reader is told: names from captions and buddy labels, the two descriptions.
    auto name = [this](const char* control) {
        return QAccessible::queryAccessibleInterface(Child<QWidget>(control))->text(QAccessible::Name);
    };
    auto description = [this](const char* control) {
        return QAccessible::queryAccessibleInterface(Child<QWidget>(control))->text(QAccessible::Description);
    };
    QCOMPARE(name("txtVoiceNUmber"), QStringLiteral("Voice Number"));
    QCOMPARE(name("txtVolume"), QStringLiteral("Volume"));
    QCOMPARE(name("txtText"), QStringLiteral("Text"));
    QCOMPARE(name("textLog"), QStringLiteral("Log"));
    QCOMPARE(name("cmdSpeak"), QStringLiteral("Say"));
    QCOMPARE(name("Voices"), QStringLiteral("Voice selection"));
    QCOMPARE(description("lblMessage"), QStringLiteral("Message"));
    QCOMPARE(description("lblWordIndex"), QStringLiteral("WordIndex"));
    // Hebrew lays the window out right to left; the sentence box can write Hebrew.
    QCOMPARE(window_->layoutDirection(), Qt::RightToLeft);
    QVERIFY(QFontDatabase::writingSystems(Child<QLineEdit>("txtText")->font().family()).contains(QFontDatabase::Hebrew));
}

void TesterWindowTest::voiceButtons_data() {
    QTest::addColumn<QString>("voice");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("message");
    QTest::newRow("count") << "1" << "btnGetNumberOfVoices" << "Number of Voices 4";
    QTest::newRow("name of 1") << "1" << "btnGetVoiceName" << "Voice name for 1 is Dan";
    QTest::newRow("name of 4") << "4" << "btnGetVoiceName" << "Voice name for 4 is Sevra";
    QTest::newRow("name of 0") << "0" << "btnGetVoiceName" << "Wrong Voice Index";
    QTest::newRow("name of 5") << "5" << "btnGetVoiceName" << "Wrong Voice Index";
    QTest::newRow("name of -1") << "-1" << "btnGetVoiceName" << "Wrong Voice Index";
    QTest::newRow("select 3") << "3" << "btnSelectVoice" << "Done";
    QTest::newRow("select 0") << "0" << "btnSelectVoice" << "Wrong Voice Index";
    QTest::newRow("select abc") << "abc" << "btnSelectVoice" << "Wrong Voice Index: \"abc\" is not a voice number";
    QTest::newRow("select 2^40") << "1099511627776" << "btnSelectVoice"
                                 << "Wrong Voice Index: \"1099511627776\" is not a voice number";
    QTest::newRow("words of abc") << "abc" << "Command1" << "Wrong Voice Index: \"abc\" is not a voice number";
}

void TesterWindowTest::voiceButtons() {
    QFETCH(QString, voice);
    QFETCH(QString, button);
    QFETCH(QString, message);
    Child<QLineEdit>("txtVoiceNUmber")->setText(voice);
    Click(qPrintable(button));
    QCOMPARE(TakeMessage(), message);
}

void TesterWindowTest::wordCountAndWordList() {
    Child<QLineEdit>("txtVoiceNUmber")->setText(QStringLiteral("1"));
    Click("Command1");
    QCOMPARE(TakeMessage(), QStringLiteral("There are 2 words for voiceDan"));
    // The engine judges the number itself here (voice 3 has no user recordings of its own): its
    // error is shown and the window goes on.
    Child<QLineEdit>("txtVoiceNUmber")->setText(QStringLiteral("3"));
    Click("Command1");
    const QString error = TakeMessage();
    QVERIFY2(error.startsWith(QStringLiteral("Run-time error '91':")), qPrintable(error));
    QVERIFY2(error.contains(QStringLiteral("Source: RavekVoice")), qPrintable(error));
    Click("Command2");
    QVERIFY(TakeMessage().startsWith(QStringLiteral("Run-time error '91':")));
    QCOMPARE(Child<QLabel>("lblMessage")->text(), QStringLiteral("The list of words was not created"));
    Child<QLineEdit>("txtVoiceNUmber")->setText(QStringLiteral("1"));
    Click("Command2");
    QCOMPARE(Child<QLabel>("lblMessage")->text(),
             QStringLiteral("Creating List of all words belong to the active voice..."));
    QTRY_COMPARE(Child<QLabel>("lblMessage")->text(), QStringLiteral("Done.."));
}

void TesterWindowTest::eventsDuringAnUtterance() {
    auto log = RecordLog();
    Child<QLineEdit>("txtText")->setText(kSentence);
    Click("cmdSpeak");
    QTRY_COMPARE(Child<QLabel>("lblMessage")->text(), QStringLiteral("SpeechStarted"));
    QTRY_VERIFY(!Child<QLabel>("lblWordIndex")->text().isEmpty());
    // A picture of the window while it speaks, for whoever reads the test results.
    window_->grab().save(QStringLiteral(RAVEK_BUILD_DIR "/tester-speaking.png"));
    QTRY_COMPARE_WITH_TIMEOUT(Child<QLabel>("lblMessage")->text(), QStringLiteral("Speech Ended."), 20000);
    const QStringList expected = {
        QStringLiteral("Going to speech.. ") + kSentence, QStringLiteral("Speech Started "),
        QStringLiteral("Word Started at offset  1"),      QStringLiteral("Word Started at offset  6"),
        QStringLiteral("Word Started at offset  11"),     QStringLiteral("Word Started at offset  15"),
        QStringLiteral("Speech Ended")};
    QCOMPARE(*log, expected);
    QCOMPARE(Child<QLabel>("lblWordIndex")->text(), QStringLiteral("15"));
}

void TesterWindowTest::stopAndSayCutsSpeechShort() {
    auto log = RecordLog();
    Child<QLineEdit>("txtText")->setText(kSentence + QLatin1Char(' ') + kSentence + QLatin1Char(' ') + kSentence);
    Click("cmdSpeak");
    QTRY_COMPARE(Child<QLabel>("lblWordIndex")->text(), QStringLiteral("6"));
    // A second Say while speaking is ignored by the engine: no new SpeechStart.
    Click("cmdSpeak");
    QTest::qWait(100);
    QCOMPARE(log->count(QStringLiteral("Speech Started ")), 1);
    Child<QLineEdit>("txtText")->setText(QStringLiteral("בית ספר"));
    Click("btnStopAndSay");
    QTRY_COMPARE_WITH_TIMEOUT(log->count(QStringLiteral("Speech Ended")), 2, 20000);
    const int stopped = log->indexOf(QStringLiteral("Going to speech.. בית ספר"));
    QVERIFY(stopped > 0);
    const QStringList afterStop = log->mid(stopped);
    const QStringList expected = {QStringLiteral("Going to speech.. בית ספר"), QStringLiteral("Speech Ended"),
                                  QStringLiteral("Speech Started "),           QStringLiteral("Word Started at offset  1"),
                                  QStringLiteral("Word Started at offset  5"), QStringLiteral("Speech Ended")};
    QCOMPARE(afterStop, expected);
    QVERIFY(!log->contains(QStringLiteral("Word Started at offset  40")));  // the long sentence was cut short
}

void TesterWindowTest::analyseDictionaryFile() {
    const std::string known = Cp1255("שלום"), pointed = Cp1255("עוֹלָם");
    ravektest::WriteFileBytes(folder_->Path() / "words.txt",
                              known + "\r\n" + Cp1255("קנגורו") + "\r\n" + pointed + "\n" + known + " \nzebra");
    // Cancelling the dialog does nothing at all.
    auto log = RecordLog();
    AnswerNextDialogWith(QString());
    Click("Command3");
    QTest::qWait(200);
    QVERIFY(log->isEmpty());
    QVERIFY(!std::filesystem::exists(folder_->Path() / "words.out"));
    QVERIFY(!window_->findChild<QMessageBox*>());

    AnswerNextDialogWith(QString::fromStdString((folder_->Path() / "words.txt").string()));
    Click("Command3");
    QTRY_COMPARE(Child<QLineEdit>("textLog")->text(), QStringLiteral("Done.. "));
    QCOMPARE(log->first(), QStringLiteral("File being analyzed .. "));
    QCOMPARE(ravektest::ReadFileBytes(folder_->Path() / "words.out"),
             Cp1255("קנגורו") + "\r\n" + known + " \r\nzebra\r\n");

    // A list whose result would be itself is left alone.
    ravektest::WriteFileBytes(folder_->Path() / "list.out", "zebra\n");
    AnswerNextDialogWith(QString::fromStdString((folder_->Path() / "list.out").string()));
    Click("Command3");
    QVERIFY(TakeMessage().contains(QStringLiteral("would replace the word list itself")));
    QCOMPARE(ravektest::ReadFileBytes(folder_->Path() / "list.out"), std::string("zebra\n"));
}

void TesterWindowTest::analyseHugeFileKeepsTheWindowResponsive() {
    // 48 MB of one never-ending line: analysed beside the window, copied through.
    const auto huge = folder_->Path() / "huge.txt";
    {
        std::ofstream out(huge, std::ios::binary);
        const std::string block(1 << 20, '\x01');
        for (int i = 0; i < 48; ++i) out << block;
    }
    AnswerNextDialogWith(QString::fromStdString(huge.string()));
    Click("Command3");
    QElapsedTimer clock;
    qint64 longestGap = 0, last = 0;
    clock.start();
    (void)QTest::qWaitFor(
        [&] {
            longestGap = std::max(longestGap, clock.elapsed() - last);
            last = clock.elapsed();
            return Child<QLineEdit>("textLog")->text() == QStringLiteral("Done.. ");
        },
        60000);
    QCOMPARE(Child<QLineEdit>("textLog")->text(), QStringLiteral("Done.. "));
    QVERIFY2(longestGap < 500, qPrintable(QString::number(longestGap)));
    QCOMPARE(std::filesystem::file_size(folder_->Path() / "huge.out"), std::uintmax_t(48u << 20) + 2);
}

void TesterWindowTest::volume_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("sent");  // 0: nothing sent
    QTest::addColumn<QString>("message");
    const QString range = QStringLiteral("Volume must be a number from 1 to 100");
    QTest::newRow("50") << "50" << 50 << "";
    QTest::newRow("half to even") << " 50.5" << 50 << "";
    QTest::newRow("exponent") << "1e2" << 100 << "";
    QTest::newRow("abc") << "abc" << 0 << "";
    QTest::newRow("prompt") << "(enter volume: 1-100)" << 0 << "";
    QTest::newRow("-5") << "-5" << 0 << range;
    QTest::newRow("0") << "0" << 0 << range;
    QTest::newRow("1e9") << "1e9" << 0 << range;
    QTest::newRow("beyond double") << "1e999" << 0 << range;
}

void TesterWindowTest::volume() {
    QFETCH(QString, text);
    QFETCH(int, sent);
    QFETCH(QString, message);
    VolumeMonitor monitor(bus_->Address());
    const QString before = Child<QLabel>("lblMessage")->text();
    Child<QLineEdit>("txtVolume")->setText(text);
    // Something sent after the volume proves that the volume call, had there been one, went out.
    Click("btnGetNumberOfVoices");
    QCOMPARE(TakeMessage(), QStringLiteral("Number of Voices 4"));
    QTest::qWait(50);
    const QList<QPair<int, int>> expected =
        sent ? QList<QPair<int, int>>{{sent, sent}} : QList<QPair<int, int>>{};
    QCOMPARE(monitor.Calls(), expected);
    QCOMPARE(Child<QLabel>("lblMessage")->text(), message.isEmpty() ? before : message);
}

void TesterWindowTest::engineDyingMidUtterance() {
    Child<QLineEdit>("txtText")->setText(kSentence + QLatin1Char(' ') + kSentence);
    Click("cmdSpeak");
    QTRY_COMPARE(Child<QLabel>("lblMessage")->text(), QStringLiteral("SpeechStarted"));
    const QDBusMessage pid = qbus_.call(QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus"),
        QStringLiteral("GetConnectionUnixProcessID")) << QStringLiteral("org.ravek.RavekVoice"));
    QCOMPARE(pid.type(), QDBusMessage::ReplyMessage);
    ::kill(static_cast<pid_t>(pid.arguments().value(0).toUInt()), SIGKILL);
    QTRY_VERIFY(Child<QLabel>("lblMessage")->text().startsWith(QStringLiteral("The engine stopped")));
    QVERIFY(!window_->Engine().HasInstance());
    // The next action starts the engine again and is carried out.
    Child<QLineEdit>("txtText")->setText(QStringLiteral("שלום"));
    Click("cmdSpeak");
    QTRY_COMPARE_WITH_TIMEOUT(Child<QLabel>("lblMessage")->text(), QStringLiteral("Speech Ended."), 30000);
    QVERIFY(window_->Engine().HasInstance());
}

void TesterWindowTest::closingReleasesTheEngineObject() {
    const std::string path = window_->Engine().InstancePath().toStdString();
    // Another connection may not use our object while it exists...
    auto callFromOutside = [&] {
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_sync(bus_->Connection(), "org.ravek.RavekVoice", path.c_str(),
                                                      "org.ravek.RavekVoice.IAPI", "ListNumberOfVoices", nullptr, nullptr,
                                                      G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
        if (reply) g_variant_unref(reply);
        gchar* name = error ? g_dbus_error_get_remote_error(error) : nullptr;
        const std::string errorName = name ? name : "";
        g_free(name);
        g_clear_error(&error);
        return errorName;
    };
    QCOMPARE(callFromOutside(), std::string("org.freedesktop.DBus.Error.AccessDenied"));
    window_->close();
    // ...and once the window is closed it is gone.
    QTRY_COMPARE(callFromOutside(), std::string("org.freedesktop.DBus.Error.UnknownMethod"));
}

void TesterWindowTest::missingServiceIsReported() {
    ravektest::TempFolder noServices;
    ravektest::PrivateBus empty(noServices.Path().string());
    QDBusConnection emptyBus =
        QDBusConnection::connectToBus(QString::fromStdString(empty.Address()), QStringLiteral("empty"));
    window_ = OpenWindow(emptyBus);
    QString error = TakeMessage();
    QVERIFY2(error.startsWith(QStringLiteral("Run-time error '429':")), qPrintable(error));
    QVERIFY2(error.contains(QStringLiteral("ServiceUnknown")), qPrintable(error));
    QVERIFY(Child<QLabel>("lblMessage")->text().startsWith(QStringLiteral("The engine is not ready")));
    // The window lives on; the next action tries again and says so again.
    Click("btnGetNumberOfVoices");
    QVERIFY(TakeMessage().startsWith(QStringLiteral("Run-time error '429':")));
    window_.reset();
    QDBusConnection::disconnectFromBus(QStringLiteral("empty"));
}

QTEST_MAIN(TesterWindowTest)
#include "test_tester_window.moc"

#include "fTesterVoice.h"

#include <QCloseEvent>
#include <QDBusArgument>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include "AutomationError.h"
#include "Inputs.h"
#include "ToolWindow.h"
#include "cCommonDialog.h"

namespace ravektester {

namespace {

const QString kWrongVoiceIndex = QStringLiteral("Wrong Voice Index");
const QString kReady = QStringLiteral("Ready to speech. Type in sentence and press \"Text 2 Speech\" button ");
const QString kVolumeRange = QStringLiteral("Volume must be a number from 1 to 100");
const char* const kTesterSource = "EngineTester";

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

QLineEdit* MakeTextBox(QWidget* parent, const char* name, const QString& text) {
    auto* box = new QLineEdit(text, parent);
    box->setObjectName(QString::fromLatin1(name));
    return box;
}

// The keys of an a{ss} reply argument (a dictionary of the engine).
QStringList KeysOf(const QVariant& dictionary) {
    QStringList keys;
    const QDBusArgument argument = dictionary.value<QDBusArgument>();
    argument.beginMap();
    while (!argument.atEnd()) {
        QString key;
        QString value;
        argument.beginMapEntry();
        argument >> key >> value;
        argument.endMapEntry();
        keys.append(key);
    }
    argument.endMap();
    return keys;
}

// An empty a{ss} argument.
QVariant EmptyDictionary() {
    QDBusArgument argument;
    argument.beginMap(QMetaType::fromType<QString>(), QMetaType::fromType<QString>());
    argument.endMap();
    return QVariant::fromValue(argument);
}

}  // namespace

fTesterVoice::fTesterVoice(const QDBusConnection& bus, TesterOptions options, QWidget* parent)
    : QMainWindow(parent), options_(std::move(options)), engine_(new EngineClient(bus, this)) {
    setObjectName(QStringLiteral("fTesterVoice"));
    setWindowTitle(QStringLiteral("Engine Tester"));
    setLayoutDirection(ravekqt::LayoutDirectionOf(options_.LanguageIndex));
    BuildControls();
    connect(engine_, &EngineClient::SpeechStart, this, &fTesterVoice::OnSpeechStart);
    connect(engine_, &EngineClient::WordStart, this, &fTesterVoice::OnWordStart);
    connect(engine_, &EngineClient::Speechend, this, &fTesterVoice::OnSpeechend);
    connect(engine_, &EngineClient::EngineLost, this, &fTesterVoice::OnEngineLost);
    connect(&wordListWatcher_, &QFutureWatcher<WordListResult>::finished, this, [this] {
        command3_->setEnabled(true);
        try {
            wordListWatcher_.result();
            textLog_->setText(QStringLiteral("Done.. "));
        } catch (const AutomationError& e) {
            textLog_->setText(QStringLiteral("Analysis failed"));
            ravekqt::ShowError(this, e.Number(), QString::fromStdString(e.Source()), QString::fromStdString(e.Description()));
        }
    });
    StartEngine();
}

fTesterVoice::~fTesterVoice() {
    stopWordList_->store(true);
    wordListWatcher_.waitForFinished();
}

void fTesterVoice::closeEvent(QCloseEvent* event) {
    engine_->Release();
    engineState_ = EngineState::None;
    QMainWindow::closeEvent(event);
}

QPushButton* fTesterVoice::AddButton(const char* name, const QString& caption, void (fTesterVoice::*handler)()) {
    auto* button = new QPushButton(caption, this);
    button->setObjectName(QString::fromLatin1(name));
    connect(button, &QPushButton::clicked, this, handler);
    return button;
}

void fTesterVoice::BuildControls() {
    // A main window, so that screen readers announce it as the program's frame.
    auto* client = new QWidget(this);
    setCentralWidget(client);
    txtText_ = MakeTextBox(this, "txtText", QString());
    txtText_->setAccessibleName(QStringLiteral("Text"));
    txtText_->setFont(ravekqt::FontForCharset(txtText_->font(), options_.Charset));
    txtText_->setMinimumWidth(420);
    connect(txtText_, &QLineEdit::returnPressed, this, &fTesterVoice::Speak);
    textLog_ = MakeTextBox(this, "textLog", QString());
    textLog_->setAccessibleName(QStringLiteral("Log"));
    textLog_->setReadOnly(true);
    lblMessage_ = MakeLabel(this, "lblMessage", QString());
    lblMessage_->setAccessibleDescription(QStringLiteral("Message"));
    lblMessage_->setWordWrap(true);
    lblWordIndex_ = MakeLabel(this, "lblWordIndex", QString());
    lblWordIndex_->setAccessibleDescription(QStringLiteral("WordIndex"));
    QLabel* label1 = MakeLabel(this, "Label1", QStringLiteral("WordIndex"));

    auto* speech = new QHBoxLayout;
    speech->addWidget(AddButton("cmdSpeak", QStringLiteral("Say"), &fTesterVoice::Speak));
    speech->addWidget(AddButton("btnStopAndSay", QStringLiteral("Stop And Say"), &fTesterVoice::StopAndSay));
    speech->addStretch();
    speech->addWidget(label1);
    speech->addWidget(lblWordIndex_);

    auto* voices = new QGroupBox(QStringLiteral("Voice selection"), this);
    voices->setObjectName(QStringLiteral("Voices"));
    QLabel* label3 = MakeLabel(voices, "Label3", QStringLiteral("Voice Number"));
    txtVoiceNUmber_ = MakeTextBox(voices, "txtVoiceNUmber", QStringLiteral("1"));
    label3->setBuddy(txtVoiceNUmber_);
    auto* voiceGrid = new QGridLayout(voices);
    voiceGrid->addWidget(label3, 0, 0);
    voiceGrid->addWidget(txtVoiceNUmber_, 0, 1);
    const struct {
        const char* name;
        const char* caption;
        void (fTesterVoice::*handler)();
    } voiceButtons[] = {
        {"btnGetNumberOfVoices", "Get Number of Voices", &fTesterVoice::GetNumberOfVoices},
        {"btnGetVoiceName", "get Voice Name", &fTesterVoice::GetVoiceName},
        {"btnSelectVoice", "SelectVoice", &fTesterVoice::SelectVoice},
        {"Command1", "Get Number of Words in selected voice", &fTesterVoice::GetWordsNumber},
        {"Command2", "Create File with all works of selected voice", &fTesterVoice::CreateWordList},
    };
    int row = 1;
    for (const auto& b : voiceButtons) {
        QPushButton* button = AddButton(b.name, QString::fromLatin1(b.caption), b.handler);
        button->setParent(voices);
        voiceGrid->addWidget(button, row++, 0, 1, 2);
    }

    command3_ = AddButton("Command3", QStringLiteral("Analyze Dictionary File"), &fTesterVoice::AnalyseDictionaryFile);
    QLabel* label5 = MakeLabel(this, "Label5", QStringLiteral("Volume"));
    txtVolume_ = MakeTextBox(this, "txtVolume", QStringLiteral("(enter volume: 1-100)"));
    label5->setBuddy(txtVolume_);
    connect(txtVolume_, &QLineEdit::textChanged, this, &fTesterVoice::VolumeChanged);
    auto* volume = new QHBoxLayout;
    volume->addWidget(label5);
    volume->addWidget(txtVolume_);
    volume->addWidget(command3_);

    auto* spare = new QHBoxLayout;
    spare->addWidget(MakeLabel(this, "Label2", QStringLiteral("Label2")));
    spare->addWidget(MakeLabel(this, "Label4", QStringLiteral("Label4")));
    spare->addStretch();

    auto* layout = new QVBoxLayout(client);
    layout->addWidget(txtText_);
    layout->addLayout(speech);
    layout->addWidget(textLog_);
    layout->addWidget(lblMessage_);
    layout->addWidget(voices);
    layout->addLayout(volume);
    layout->addLayout(spare);
    setTabOrder(txtText_, findChild<QPushButton*>(QStringLiteral("cmdSpeak")));
}

// ---- the engine ----

void fTesterVoice::StartEngine() {
    engineState_ = EngineState::Starting;
    lblMessage_->setText(QStringLiteral("Initializing..."));
    auto failed = [this](const EngineError& error) {
        engineState_ = EngineState::None;
        pendingAction_ = nullptr;
        lblMessage_->setText(QStringLiteral("The engine is not ready: ") + error.Description);
        ShowEngineError(error);
    };
    engine_->Create(
        [this, failed] {
            engine_->Call(QStringLiteral("Initialise"), {},
                          [this](const QVariantList&) {
                              engineState_ = EngineState::Ready;
                              textLog_->setText(QStringLiteral("Initialized..."));
                              lblMessage_->setText(kReady);
                              if (auto action = std::exchange(pendingAction_, nullptr)) action();
                          },
                          failed);
        },
        failed);
}

void fTesterVoice::WithEngine(std::function<void()> action) {
    if (engineState_ == EngineState::Ready) {
        action();
        return;
    }
    pendingAction_ = std::move(action);
    if (engineState_ == EngineState::None) StartEngine();
}

void fTesterVoice::Call(const QString& method, const QVariantList& arguments, EngineClient::ReplyHandler replied) {
    engine_->Call(method, arguments, std::move(replied), [this](const EngineError& error) { ShowEngineError(error); });
}

void fTesterVoice::ShowEngineError(const EngineError& error) {
    ravekqt::ShowError(this, error.Number, error.Source, error.Description);
}

void fTesterVoice::Message(const QString& text) { ravekqt::ShowMessage(this, text); }

// ---- buttons ----

void fTesterVoice::GetNumberOfVoices() {
    WithEngine([this] {
        Call(QStringLiteral("ListNumberOfVoices"), {}, [this](const QVariantList& results) {
            Message(QStringLiteral("Number of Voices ") + QString::number(results.value(0).toInt()));
        });
    });
}

bool fTesterVoice::ReadVoiceNumber(int32_t& voice) {
    const std::optional<int32_t> number = ParseVoiceNumber(txtVoiceNUmber_->text());
    if (!number) {
        Message(kWrongVoiceIndex + QStringLiteral(": \"") + txtVoiceNUmber_->text() +
                QStringLiteral("\" is not a voice number"));
        return false;
    }
    voice = *number;
    return true;
}

void fTesterVoice::WithCheckedVoice(std::function<void(int32_t, const QString&)> use) {
    int32_t voice = 0;
    if (!ReadVoiceNumber(voice)) return;
    const QString boxText = txtVoiceNUmber_->text();
    WithEngine([this, voice, boxText, use] {
        Call(QStringLiteral("ListNumberOfVoices"), {}, [this, voice, boxText, use](const QVariantList& results) {
            if (results.value(0).toInt() < voice || voice < 1)
                Message(kWrongVoiceIndex);
            else
                use(voice, boxText);
        });
    });
}

void fTesterVoice::GetVoiceName() {
    WithCheckedVoice([this](int32_t voice, const QString& boxText) {
        Call(QStringLiteral("ListVoiceName"), {voice}, [this, boxText](const QVariantList& results) {
            Message(QStringLiteral("Voice name for ") + boxText + QStringLiteral(" is ") + results.value(0).toString());
        });
    });
}

void fTesterVoice::SelectVoice() {
    WithCheckedVoice([this](int32_t voice, const QString&) {
        Call(QStringLiteral("SelectVoice"), {voice}, [this](const QVariantList&) { Message(QStringLiteral("Done")); });
    });
}

void fTesterVoice::Speak() {
    const QString sentence = txtText_->text();
    textLog_->setText(QStringLiteral("Going to speech.. ") + sentence);
    WithEngine([this, sentence] { Call(QStringLiteral("Speak"), {sentence}, [](const QVariantList&) {}); });
}

void fTesterVoice::StopAndSay() {
    const QString sentence = txtText_->text();
    textLog_->setText(QStringLiteral("Going to speech.. ") + sentence);
    WithEngine([this, sentence] {
        Call(QStringLiteral("StopSpeak"), {}, [this, sentence](const QVariantList&) {
            Call(QStringLiteral("Speak"), {sentence}, [](const QVariantList&) {});
        });
    });
}

void fTesterVoice::GetWordsNumber() {
    int32_t voice = 0;
    if (!ReadVoiceNumber(voice)) return;
    WithEngine([this, voice] {
        Call(QStringLiteral("GetWordsNumber"), {voice}, [this, voice](const QVariantList& count) {
            Call(QStringLiteral("ListVoiceName"), {voice}, [this, count](const QVariantList& name) {
                Message(QStringLiteral("There are ") + QString::number(count.value(0).toInt()) +
                        QStringLiteral(" words for voice") + name.value(0).toString());
            });
        });
    });
}

void fTesterVoice::CreateWordList() {
    int32_t voice = 0;
    if (!ReadVoiceNumber(voice)) return;
    lblMessage_->setText(QStringLiteral("Creating List of all words belong to the active voice..."));
    WithEngine([this, voice] {
        engine_->Call(
            QStringLiteral("GetDictionary"), {voice}, [this](const QVariantList&) { lblMessage_->setText(QStringLiteral("Done..")); },
            [this](const EngineError& error) {
                lblMessage_->setText(QStringLiteral("The list of words was not created"));
                ShowEngineError(error);
            });
    });
}

void fTesterVoice::AnalyseDictionaryFile() {
    if (wordListWatcher_.isRunning()) return;
    ravekqt::cCommonDialog dialog;
    ravekqt::OpenFileArgs args;
    args.FileMustExist = true;
    args.Filter = QStringLiteral("All (*.*)| *.*");
    args.FilterIndex = 1;
    args.InitDir = options_.ProgramFolder;
    args.Owner = ravekqt::kNoOwner;
    // Cancelling the dialog ends the command: there is no word list to analyse.
    if (!dialog.VBGetOpenFileName(args)) return;
    const QString input = args.Filename;
    const QString output = WordListOutputPath(input);
    if (output.isEmpty()) {
        Message(QStringLiteral("The result of ") + input +
                QStringLiteral(" would replace the word list itself: rename the list so that it does not end in \"out\"."));
        return;
    }
    if (!QFileInfo(input).isFile() || !QFileInfo(input).isReadable()) {
        ravekqt::ShowError(this, RuntimeErrors::FileNotFound, QString::fromLatin1(kTesterSource),
                           QStringLiteral("File not found: ") + input);
        return;
    }
    WithEngine([this, input, output] {
        Call(QStringLiteral("ExportRavekDictionary"), {EmptyDictionary()},
             [this, input, output](const QVariantList& results) { RunWordList(input, output, results); });
    });
}

void fTesterVoice::RunWordList(const QString& input, const QString& output, const QVariantList& exportResults) {
    if (wordListWatcher_.isRunning()) return;
    textLog_->setText(QStringLiteral("File being analyzed .. "));
    command3_->setEnabled(false);
    const QStringList words = exportResults.size() > 1 ? KeysOf(exportResults[1]) : QStringList();
    const int codePage = options_.AnsiCodePage;
    std::shared_ptr<std::atomic<bool>> stop = stopWordList_;
    wordListWatcher_.setFuture(QtConcurrent::run([input, output, words, codePage, stop] {
        return AnalyseWordList(input, output, AnsiWords(words, codePage), *stop);
    }));
}

void fTesterVoice::VolumeChanged(const QString& text) {
    const VolumeInput volume = ParseVolume(text);
    if (volume.What == VolumeInput::Kind::NotNumeric) return;
    if (volume.What == VolumeInput::Kind::OutOfRange) {
        lblMessage_->setText(kVolumeRange);
        return;
    }
    if (lblMessage_->text() == kVolumeRange) lblMessage_->clear();
    const qint16 percent = volume.Percent;
    WithEngine([this, percent] {
        Call(QStringLiteral("SetSystemVolume"), {QVariant::fromValue(percent), QVariant::fromValue(percent)},
             [](const QVariantList&) {});
    });
}

// ---- events ----

void fTesterVoice::OnSpeechStart() {
    lblMessage_->setText(QStringLiteral("SpeechStarted"));
    textLog_->setText(QStringLiteral("Speech Started "));
}

void fTesterVoice::OnWordStart(int wordIndex) {
    lblWordIndex_->setText(QString::number(wordIndex));
    textLog_->setText(QStringLiteral("Word Started at offset  ") + QString::number(wordIndex));
}

void fTesterVoice::OnSpeechend() {
    textLog_->setText(QStringLiteral("Speech Ended"));
    lblMessage_->setText(QStringLiteral("Speech Ended."));
}

void fTesterVoice::OnEngineLost() {
    engineState_ = EngineState::None;
    textLog_->setText(QStringLiteral("Engine stopped"));
    lblMessage_->setText(QStringLiteral("The engine stopped (it left the session bus). The next action starts it again."));
}

}  // namespace ravektester

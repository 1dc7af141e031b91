#pragma once
// The engine tester's window: drives an engine object of its own over D-Bus (initialise, voices,
// speech, volume, word counts and lists, the word-list check) and shows the engine's events as
// they arrive. Every control carries the object name the users' scripts and screen readers know.
// Nothing here waits for the engine: calls are asynchronous, results and errors arrive later, and
// an error is shown in a message box while the window stays alive.
#include <QDBusConnection>
#include <QFutureWatcher>
#include <QString>
#include <QMainWindow>

#include <atomic>
#include <functional>
#include <memory>

#include "EngineClient.h"
#include "WordList.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace ravektester {

struct TesterOptions {
    QString ProgramFolder;     // start folder of the word-list dialog
    long LanguageIndex = 1;    // from the code page manager
    long Charset = 177;        // font character set of the sentence box
    int AnsiCodePage = 1255;   // code page of word-list files
};

class fTesterVoice : public QMainWindow {
    Q_OBJECT
public:
    fTesterVoice(const QDBusConnection& bus, TesterOptions options, QWidget* parent = nullptr);
    ~fTesterVoice() override;

    EngineClient& Engine() { return *engine_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildControls();
    QPushButton* AddButton(const char* name, const QString& caption, void (fTesterVoice::*handler)());

    // Start-up: an engine object of our own, then Initialise. `then` runs once the engine is ready.
    void StartEngine();
    // Runs `action` now when the engine is ready, else once it is (starting it when needed).
    void WithEngine(std::function<void()> action);
    void Call(const QString& method, const QVariantList& arguments, EngineClient::ReplyHandler replied);
    void ShowEngineError(const EngineError& error);
    void Message(const QString& text);

    // Button handlers.
    void GetNumberOfVoices();
    void GetVoiceName();
    void SelectVoice();
    void Speak();
    void StopAndSay();
    void GetWordsNumber();
    void CreateWordList();
    void AnalyseDictionaryFile();
    void VolumeChanged(const QString& text);
    // The voice number of the box checked against the engine's voice count, then `use(n)`.
    void WithCheckedVoice(std::function<void(int32_t voice, const QString& boxText)> use);
    // The voice number of the box without the count check (the engine judges it).
    bool ReadVoiceNumber(int32_t& voice);
    void RunWordList(const QString& input, const QString& output, const QVariantList& exportResults);

    // Engine events.
    void OnSpeechStart();
    void OnWordStart(int wordIndex);
    void OnSpeechend();
    void OnEngineLost();

    TesterOptions options_;
    EngineClient* engine_;
    enum class EngineState { None, Starting, Ready } engineState_ = EngineState::None;
    std::function<void()> pendingAction_;

    QLineEdit* txtText_ = nullptr;
    QLineEdit* textLog_ = nullptr;
    QLabel* lblMessage_ = nullptr;
    QLabel* lblWordIndex_ = nullptr;
    QLineEdit* txtVoiceNUmber_ = nullptr;
    QLineEdit* txtVolume_ = nullptr;
    QPushButton* command3_ = nullptr;

    // The word-list pass runs beside the window so that a huge file never freezes it.
    QFutureWatcher<WordListResult> wordListWatcher_;
    std::shared_ptr<std::atomic<bool>> stopWordList_ = std::make_shared<std::atomic<bool>>(false);
};

}  // namespace ravektester

#pragma once
// VoiceCheck's main window: five engine settings to read and save (log level, longest sequence,
// missing-word policy, MP3-to-WAVE conversion, numbered file names), the program's version and,
// on a Hebrew system, whether the installed voice data and recordings folders are in order.
// It reads the engine's registry file, INI file, database and data files; it never talks to the
// engine. Every control carries the object name the design of the window gives it.
#include <QMainWindow>
#include <QPointer>
#include <QStringList>

#include <functional>
#include <string>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace voicecheck {

class DetailedInformation;
class frmAbout;

// Starts a program beside this one; false when it could not be started.
using StartProgram = std::function<bool(const QString& program, const QStringList& arguments)>;

struct DiagnosticsOptions {
    QString ProgramVersion;  // "major.minor.revision"
    StartProgram Start;      // default: a detached process
};

// The program's icon (also the About window's picture).
QIcon ProgramIcon();

class RavekDiagnostics : public QMainWindow {
    Q_OBJECT
public:
    explicit RavekDiagnostics(DiagnosticsOptions options, QWidget* parent = nullptr);
    ~RavekDiagnostics() override;

    // The windows of the menu (single instances, opened without blocking this one).
    DetailedInformation* OpenDetailedInformation();
    frmAbout* OpenAbout();

    void Save();
    void ShowLog();

    long LanguageIndex() const { return languageIndex_; }

private:
    void BuildControls();
    void FormLoad();
    void LoadCaptions();
    void NameControlsByLabels();
    void ShowDataStatus();
    void ShowRecordingsFolders();
    // Runs one numbered loading step under the window's error trap.
    void Step(int number, const std::function<void()>& body);
    void LoadError(const QString& description);
    QString Text(long id) const;  // a string of the table in the window's language
    void SetCharset(QWidget* widget) const;
    static void MarkError(QLabel* label);

    DiagnosticsOptions options_;
    std::string applicationPath_;
    std::string iniFileName_;
    std::string recordsRoot_;
    long languageIndex_ = 0;
    long languageOffset_ = 0;
    std::string languageKeySuffix_;
    long charset_ = 0;
    QString spellText_;
    QString beepText_;
    std::string maleVoice_;
    std::string femaleVoice_;

    int step_ = 0;
    bool errorsIgnored_ = false;

    QComboBox* cmbLog_ = nullptr;
    QComboBox* cmbSequenceLength_ = nullptr;
    QComboBox* cmdMissingWordPolicy_ = nullptr;
    QCheckBox* chkConvert_ = nullptr;
    QCheckBox* chkAvoidShortNames_ = nullptr;
    QLabel* lblLogLevel_ = nullptr;
    QLabel* lblSequenceLen_ = nullptr;
    QLabel* lblMissingWordPolicy_ = nullptr;
    QLabel* lblMP32WAV_ = nullptr;
    QLabel* lblAvoidShortNames_ = nullptr;
    QLabel* lblVersion_ = nullptr;
    QLabel* lblDataVersion_ = nullptr;
    QLabel* lblDataStatus_ = nullptr;
    QLabel* lblMyRecordMale_ = nullptr;
    QLabel* lblMyRecordsFemale_ = nullptr;
    QPushButton* cmdSave_ = nullptr;
    QPushButton* cmdExit_ = nullptr;
    QPushButton* cmdShowLog_ = nullptr;
    QAction* mDetailedInfo_ = nullptr;
    QAction* mAbout_ = nullptr;

    QPointer<DetailedInformation> detailed_;
    QPointer<frmAbout> about_;
};

}  // namespace voicecheck

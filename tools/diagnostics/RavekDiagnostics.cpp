#include "RavekDiagnostics.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>

#include <filesystem>

#include "CommonFunc.h"
#include "DetailedInformation.h"
#include "ManageCodePage.h"
#include "RegistryFile.h"
#include "SettingsWriter.h"
#include "StringTable.h"
#include "ToolWindow.h"
#include "frmAbout.h"
#include "mdlAppFolder.h"
#include "mdlCheckDataVersion.h"

namespace voicecheck {
namespace {

const char* const kMainKey = mdlAppFolder::kMainKey;
// Texts of the Hebrew data status.
const QString kDataVersionPrefix = QStringLiteral("גרסת הקלטות: ");
const QString kNotInstalled = QStringLiteral("לא מותקן");
const QString kErrorPrefix = QStringLiteral("שגיאה - ");
const QString kStatusOk = QStringLiteral("סטטוס תקין");
const QString kNoRecordsRoot = QStringLiteral("ספרית הקלטות שלי חסרה");
const QString kMaleOk = QStringLiteral("הקלטות בן-תקין");
const QString kMaleMissing = QStringLiteral("הקלטות בן-ספריה חסרה");
const QString kFemaleOk = QStringLiteral("הקלטות בת-תקין");
const QString kFemaleMissing = QStringLiteral("הקלטות בת-ספריה חסרה");
// Texts of this program beyond the design's table (same ids in every language column).
constexpr long kSaveFailedId = 165;
constexpr long kNoLogFileId = 166;
constexpr long kNoViewerId = 167;

QString Q(const std::string& s) { return QString::fromStdString(s); }

// A value written in Latin letters and digits (a data version, a file name) keeps its own order
// inside a Hebrew sentence: each line of it is a first-strong isolate, so "1.0:ravektest" is not
// shown as "ravektest:1.0" in a right-to-left label.
QString Isolated(const QString& value) {
    QStringList lines = value.split(QStringLiteral("\r\n"));
    for (QString& line : lines)
        if (!line.isEmpty()) line = QChar(0x2068) + line + QChar(0x2069);
    return lines.join(QStringLiteral("\r\n"));
}

// The status message: its first line is the Hebrew verdict, the lines after it name the file
// and the value at fault.
QString StatusMessage(const std::string& message) {
    const QString text = Q(message);
    const qsizetype firstBreak = text.indexOf(QStringLiteral("\r\n"));
    if (firstBreak < 0) return text;
    return text.left(firstBreak) + QStringLiteral("\r\n") + Isolated(text.mid(firstBreak + 2));
}
std::string S(const QString& s) { return s.toStdString(); }

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

QComboBox* MakeCombo(QWidget* parent, const char* name, const QStringList& items, bool editable) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(QString::fromLatin1(name));
    combo->setEditable(editable);
    combo->addItems(items);
    combo->setCurrentIndex(-1);
    return combo;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    return button;
}

bool StartDetached(const QString& program, const QStringList& arguments) {
    return QProcess::startDetached(program, arguments);
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool FolderExists(const std::string& path) {
    std::error_code error;
    return !path.empty() && std::filesystem::is_directory(path, error);
}

}  // namespace

QIcon ProgramIcon() {
    // Drawn rather than loaded: a speech bubble with a check mark, at any size the desktop asks.
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath bubble;
    bubble.addRoundedRect(4, 6, 56, 40, 10, 10);
    bubble.moveTo(16, 44);
    bubble.lineTo(12, 58);
    bubble.lineTo(30, 44);
    painter.fillPath(bubble.simplified(), QColor(0x1f, 0x6f, 0xb5));
    painter.setPen(QPen(Qt::white, 6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPolyline(QPolygon({QPoint(18, 26), QPoint(28, 36), QPoint(46, 16)}));
    painter.end();
    return QIcon(pixmap);
}

RavekDiagnostics::RavekDiagnostics(DiagnosticsOptions options, QWidget* parent)
    : QMainWindow(parent), options_(std::move(options)) {
    if (!options_.Start) options_.Start = StartDetached;
    setObjectName(QStringLiteral("RavekDiagnostics"));
    BuildControls();
    FormLoad();
}

RavekDiagnostics::~RavekDiagnostics() {
    delete detailed_.data();
    delete about_.data();
}

void RavekDiagnostics::BuildControls() {
    auto* client = new QWidget(this);
    setCentralWidget(client);
    // Design-time captions; LoadCaptions replaces them with the language's texts.
    lblLogLevel_ = MakeLabel(client, "lblLogLevel", QStringLiteral("Log Level"));
    cmbLog_ = MakeCombo(client, "cmbLog", {QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("99")}, true);
    lblSequenceLen_ = MakeLabel(client, "lblSequenceLen", QStringLiteral("Maximal Sequence Length"));
    cmbSequenceLength_ = MakeCombo(client, "cmbSequenceLength",
                                   {QStringLiteral("3"), QStringLiteral("4"), QStringLiteral("5"), QStringLiteral("6"),
                                    QStringLiteral("7"), QStringLiteral("8")},
                                   true);
    lblMissingWordPolicy_ = MakeLabel(client, "lblMissingWordPolicy", QStringLiteral("Missing Words Policy"));
    cmdMissingWordPolicy_ = MakeCombo(client, "cmdMissingWordPolicy", {}, false);
    lblMP32WAV_ = MakeLabel(client, "lblMP32WAV", QStringLiteral("Convert MP3 files"));
    chkConvert_ = new QCheckBox(client);
    chkConvert_->setObjectName(QStringLiteral("chkConvert"));
    lblAvoidShortNames_ = MakeLabel(client, "lblAvoidShortNames", QStringLiteral("Force short names"));
    chkAvoidShortNames_ = new QCheckBox(client);
    chkAvoidShortNames_->setObjectName(QStringLiteral("chkAvoidShortNames"));
    // Each label names its control for the keyboard and for screen readers.
    lblLogLevel_->setBuddy(cmbLog_);
    lblSequenceLen_->setBuddy(cmbSequenceLength_);
    lblMissingWordPolicy_->setBuddy(cmdMissingWordPolicy_);
    lblMP32WAV_->setBuddy(chkConvert_);
    lblAvoidShortNames_->setBuddy(chkAvoidShortNames_);

    lblVersion_ = MakeLabel(client, "lblVersion", QString());
    lblDataVersion_ = MakeLabel(client, "lblDataVersion", QStringLiteral("גירסת הקלטות"));
    lblDataStatus_ = MakeLabel(client, "lblDataStatus", QString());
    lblMyRecordMale_ = MakeLabel(client, "lblMyRecordMale", QStringLiteral("הקלטות בן"));
    lblMyRecordsFemale_ = MakeLabel(client, "lblMyRecordsFemale", QStringLiteral("הקלטות בת"));
    for (QLabel* status : {lblDataVersion_, lblDataStatus_, lblMyRecordMale_, lblMyRecordsFemale_}) {
        status->setWordWrap(true);
        status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    }

    cmdSave_ = MakeButton(client, "cmdSave", QStringLiteral("Save"));
    cmdExit_ = MakeButton(client, "cmdExit", QStringLiteral("Close"));
    cmdShowLog_ = MakeButton(client, "cmdShowLog", QStringLiteral("Log File"));
    connect(cmdSave_, &QPushButton::clicked, this, &RavekDiagnostics::Save);
    connect(cmdExit_, &QPushButton::clicked, this, &QWidget::close);
    connect(cmdShowLog_, &QPushButton::clicked, this, &RavekDiagnostics::ShowLog);

    mDetailedInfo_ = menuBar()->addAction(QStringLiteral("Detailed information"));
    mDetailedInfo_->setObjectName(QStringLiteral("mDetailedInfo"));
    mAbout_ = menuBar()->addAction(QStringLiteral("About"));
    mAbout_->setObjectName(QStringLiteral("mAbout"));
    connect(mDetailedInfo_, &QAction::triggered, this, [this] { OpenDetailedInformation(); });
    connect(mAbout_, &QAction::triggered, this, [this] { OpenAbout(); });

    auto* settings = new QGridLayout;
    const std::pair<QLabel*, QWidget*> rows[] = {{lblLogLevel_, cmbLog_},
                                                 {lblSequenceLen_, cmbSequenceLength_},
                                                 {lblMissingWordPolicy_, cmdMissingWordPolicy_},
                                                 {lblMP32WAV_, chkConvert_},
                                                 {lblAvoidShortNames_, chkAvoidShortNames_}};
    int row = 0;
    for (const auto& [label, control] : rows) {
        settings->addWidget(label, row, 0);
        settings->addWidget(control, row++, 1);
    }
    settings->setColumnStretch(1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(cmdSave_);
    buttons->addWidget(cmdShowLog_);
    buttons->addStretch();
    buttons->addWidget(cmdExit_);
    auto* layout = new QVBoxLayout(client);
    layout->addLayout(settings);
    layout->addWidget(lblVersion_);
    for (QLabel* status : {lblDataVersion_, lblDataStatus_, lblMyRecordMale_, lblMyRecordsFemale_}) layout->addWidget(status);
    layout->addStretch();
    layout->addLayout(buttons);
    QFont font(QStringLiteral("Tahoma"));
    setFont(font);
    setMinimumWidth(460);
}

// ---- loading ----

void RavekDiagnostics::Step(int number, const std::function<void()>& body) {
    step_ = number;
    try {
        body();
    } catch (const std::exception& e) {
        LoadError(QString::fromUtf8(e.what()));
    }
}

void RavekDiagnostics::LoadError(const QString& description) {
    // The first failure is shown; later failing steps are skipped silently, so one bad value
    // does not bury the user in messages.
    if (errorsIgnored_) return;
    errorsIgnored_ = true;
    ravekqt::ShowMessage(this, QStringLiteral("Error in form_load %1 at %2").arg(description).arg(step_));
}

QString RavekDiagnostics::Text(long id) const { return ravekqt::LoadResString(id, languageOffset_); }

void RavekDiagnostics::SetCharset(QWidget* widget) const {
    widget->setFont(ravekqt::FontForCharset(widget->font(), charset_));
}

void RavekDiagnostics::MarkError(QLabel* label) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, QColor(255, 0, 0));
    label->setPalette(palette);
}

void RavekDiagnostics::FormLoad() {
    Step(0, [&] {
        const mdlAppFolder::VoiceNames names = mdlAppFolder::LoadVoiceNames();
        maleVoice_ = names.Male;
        femaleVoice_ = names.Female;
    });
    Step(10, [] { ManageCodePage::LoadLanguageTable(); });
    Step(20, [&] { languageIndex_ = ManageCodePage::GetSystemLanguageIndex(); });
    Step(30, [&] { languageOffset_ = ManageCodePage::GetLanguageOffset(languageIndex_); });
    std::string suffix;
    Step(40, [&] { ManageCodePage::GetLanguageKeySuffix(languageIndex_, suffix); });
    Step(50, [&] { languageKeySuffix_ = mdlAppFolder::KeySuffixOf(suffix); });
    Step(60, [&] { charset_ = ManageCodePage::GetLanguageCharset(languageIndex_); });
    setLayoutDirection(ravekqt::LayoutDirectionOf(languageIndex_));
    Step(70, [&] { setWindowIcon(ProgramIcon()); });
    Step(80, [&] { applicationPath_ = mdlAppFolder::RegistryText(kMainKey, "ApplicationPath"); });
    Step(90, [&] {
        iniFileName_ = mdlAppFolder::RegistryText(std::string(kMainKey) + languageKeySuffix_, "ParametersINIFileName");
        recordsRoot_ = mdlAppFolder::RegistryText(kMainKey, "MyRecordsPath");
    });
    std::string policy;
    Step(100, [&] { policy = CommonFunc::GetIniValue(applicationPath_ + "/" + iniFileName_, "General", "MissingWordPolicy"); });
    Step(120, [&] { LoadCaptions(); });
    Step(130, [&] { cmbLog_->setEditText(Q(mdlAppFolder::RegistryText(kMainKey, "LogLevel"))); });
    Step(150, [&] { cmdMissingWordPolicy_->addItem(spellText_); });
    Step(160, [&] {
        cmdMissingWordPolicy_->addItem(beepText_);
        cmdMissingWordPolicy_->setCurrentIndex(-1);  // a filled list has no selection of its own
    });
    Step(170, [&] {
        if (Lower(policy) == "spell") cmdMissingWordPolicy_->setCurrentIndex(cmdMissingWordPolicy_->findText(spellText_));
    });
    Step(200, [&] {
        if (Lower(policy) == "beep") cmdMissingWordPolicy_->setCurrentIndex(cmdMissingWordPolicy_->findText(beepText_));
    });
    Step(230, [&] { cmbSequenceLength_->setEditText(Q(mdlAppFolder::RegistryText(kMainKey, "SequenceLen"))); });
    Step(250, [&] { chkConvert_->setChecked(mdlAppFolder::RegistryText(kMainKey, "ConvertMP32WAV") == "1"); });
    Step(310, [&] { chkAvoidShortNames_->setChecked(mdlAppFolder::RegistryText(kMainKey, "AvoidShortNames") == "1"); });
    std::string version;
    Step(370, [&] { version = mdlAppFolder::RegistryText(kMainKey, "Version"); });
    Step(380, [&] { lblVersion_->setText(Text(117) + QStringLiteral(" ") + Q(version)); });

    NameControlsByLabels();
    const bool hebrew = languageIndex_ == 1;
    for (QLabel* status : {lblDataVersion_, lblDataStatus_, lblMyRecordMale_, lblMyRecordsFemale_}) status->setVisible(hebrew);
    if (!hebrew) return;
    Step(380, [&] { ShowDataStatus(); });
}

void RavekDiagnostics::NameControlsByLabels() {
    // A drop-down would otherwise be announced by its current text, a check box by nothing.
    for (QLabel* label : {lblLogLevel_, lblSequenceLen_, lblMissingWordPolicy_, lblMP32WAV_, lblAvoidShortNames_})
        label->buddy()->setAccessibleName(label->text().trimmed());
}

void RavekDiagnostics::LoadCaptions() {
    int row = 0;
    try {
        const std::pair<int, std::function<void()>> rows[] = {
            {20, [&] { spellText_ = Text(128); }},
            {30, [&] { beepText_ = Text(129); }},
            {40, [&] { SetCharset(this); }},
            {50, [&] { setWindowTitle(Text(119)); }},
            {60, [&] { SetCharset(lblLogLevel_); }},
            {70, [&] { lblLogLevel_->setText(Text(110)); }},
            {80, [&] { SetCharset(cmbLog_); }},
            {90, [&] { cmbLog_->setToolTip(Text(122)); }},
            {100, [&] { SetCharset(lblSequenceLen_); }},
            {110, [&] { SetCharset(cmbSequenceLength_); }},
            {120, [&] { lblSequenceLen_->setText(Text(111)); }},
            {130, [&] { cmbSequenceLength_->setToolTip(Text(123)); }},
            {140, [&] { SetCharset(lblVersion_); }},
            {150, [&] { SetCharset(lblMissingWordPolicy_); }},
            {160, [&] { SetCharset(cmdMissingWordPolicy_); }},
            {170, [&] { lblMissingWordPolicy_->setText(Text(112)); }},
            {180, [&] { cmdMissingWordPolicy_->setToolTip(Text(124)); }},
            {190, [&] { SetCharset(lblMP32WAV_); }},
            {200, [&] { SetCharset(chkConvert_); }},
            {210, [&] { lblMP32WAV_->setText(Text(113)); }},
            {220, [&] { chkConvert_->setToolTip(Text(126)); }},
            {230, [&] { SetCharset(lblAvoidShortNames_); }},
            {240, [&] { SetCharset(chkAvoidShortNames_); }},
            {250, [&] { lblAvoidShortNames_->setText(Text(114)); }},
            {260, [&] { chkAvoidShortNames_->setToolTip(Text(127)); }},
            {270, [&] { SetCharset(cmdSave_); }},
            {280, [&] { SetCharset(cmdExit_); }},
            {290, [&] { SetCharset(cmdShowLog_); }},
            {300, [&] { cmdSave_->setText(Text(116)); }},
            {310, [&] { cmdExit_->setText(Text(115)); }},
            {320, [&] { mAbout_->setText(Text(120)); }},
            {330, [&] { mDetailedInfo_->setText(Text(121)); }},
            {340, [&] { cmdShowLog_->setText(Text(118)); }},
            {350, [&] { cmdShowLog_->setToolTip(Text(125)); }},
        };
        for (const auto& [number, body] : rows) {
            row = number;
            body();
        }
    } catch (const std::exception& e) {
        // The remaining captions keep their design texts; loading goes on.
        ravekqt::ShowMessage(this, QStringLiteral("FormMain_LoadCaptions RT error %1 at row%2").arg(QString::fromUtf8(e.what())).arg(row));
    }
}

void RavekDiagnostics::ShowDataStatus() {
    mdlCheckDataVersion::Result male = mdlCheckDataVersion::CheckDataVersion(maleVoice_);
    if (!male.Completed) {
        ravekqt::ShowMessage(this, Q(male.Error));
        errorsIgnored_ = false;  // the load-error message is shown (with no description) in any case
        LoadError(QString());
        return;
    }
    if (male.Version == mdlCheckDataVersion::kNotInstalled) {
        lblDataVersion_->setText(kDataVersionPrefix + kNotInstalled);
    } else {
        lblDataVersion_->setText(kDataVersionPrefix + Isolated(Q(male.Version)));
        if (!male.Ok) {
            lblDataStatus_->setText(kErrorPrefix + StatusMessage(male.Message));
            MarkError(lblDataStatus_);
        } else {
            mdlCheckDataVersion::Result female = mdlCheckDataVersion::CheckDataVersion(femaleVoice_);
            if (!female.Completed) {
                ravekqt::ShowMessage(this, Q(female.Error));
                errorsIgnored_ = false;
                LoadError(QString());
                return;
            }
            // Only the male voice's version is shown; the female voice counts for the status.
            lblDataVersion_->setText(kDataVersionPrefix + Isolated(Q(male.Version)));
            if (female.Ok) {
                lblDataStatus_->setText(kStatusOk);
            } else {
                lblDataStatus_->setText(kErrorPrefix + StatusMessage(female.Message));
                MarkError(lblDataStatus_);
            }
        }
    }
    ShowRecordingsFolders();
}

void RavekDiagnostics::ShowRecordingsFolders() {
    if (!FolderExists(recordsRoot_)) {
        lblMyRecordMale_->setText(kNoRecordsRoot);
        MarkError(lblMyRecordMale_);
        return;
    }
    // The folders the engine records into: the recordings voices' names, as the registry gives
    // them (the installation's usual names when it gives none).
    const std::string languageKey = std::string(kMainKey) + languageKeySuffix_;
    std::string male = mdlAppFolder::RegistryText(languageKey, "MaleVoiceName");
    std::string female = mdlAppFolder::RegistryText(languageKey, "FemaleVoiceName");
    if (male.empty()) male = "Tovel";
    if (female.empty()) female = "Nevi";
    const bool maleThere = FolderExists(recordsRoot_ + "/" + male);
    lblMyRecordMale_->setText(maleThere ? kMaleOk : kMaleMissing);
    if (!maleThere) MarkError(lblMyRecordMale_);
    const bool femaleThere = FolderExists(recordsRoot_ + "/" + female);
    lblMyRecordsFemale_->setText(femaleThere ? kFemaleOk : kFemaleMissing);
    if (!femaleThere) MarkError(lblMyRecordsFemale_);
}

// ---- actions ----

void RavekDiagnostics::Save() {
    QStringList failures;
    auto attempt = [&](const std::function<void()>& write) {
        try {
            write();
        } catch (const std::exception& e) {
            const QString why = QString::fromUtf8(e.what());
            if (!failures.contains(why)) failures.append(why);
        }
    };
    using CommonFunc::RootKey;
    attempt([&] { CommonFunc::SetRegistryValue(RootKey::LocalMachine, kMainKey, "LogLevel", S(cmbLog_->currentText()), CommonFunc::kRegString); });
    attempt([&] {
        CommonFunc::SetRegistryValue(RootKey::LocalMachine, kMainKey, "SequenceLen", S(cmbSequenceLength_->currentText()), CommonFunc::kRegString);
    });
    attempt([&] {
        const QString selected = cmdMissingWordPolicy_->currentIndex() < 0 ? QString() : cmdMissingWordPolicy_->currentText();
        std::optional<std::string> policy;
        if (!selected.isEmpty() && selected == spellText_) policy = "Spell";
        else if (!selected.isEmpty() && selected == beepText_) policy = "Beep";
        CommonFunc::WriteIniValue(applicationPath_ + "/" + iniFileName_, "General", "MissingWordPolicy", policy);
    });
    attempt([&] {
        CommonFunc::SetRegistryValue(RootKey::LocalMachine, kMainKey, "ConvertMP32WAV", chkConvert_->isChecked() ? "1" : "0", CommonFunc::kRegString);
    });
    attempt([&] {
        CommonFunc::SetRegistryValue(RootKey::LocalMachine, kMainKey, "AvoidShortNames", chkAvoidShortNames_->isChecked() ? "1" : "0",
                                     CommonFunc::kRegString);
    });
    // A refused write is said, naming the file: nothing may look saved that was not.
    if (!failures.isEmpty()) {
        QString title;
        try {
            title = Text(kSaveFailedId);
        } catch (const std::exception&) {
            title = ravekqt::LoadResString(kSaveFailedId, ravekqt::kEnglishOffset);
        }
        ravekqt::ShowMessage(this, title + QStringLiteral("\n\n") + failures.join(QLatin1Char('\n')));
    }
}

void RavekDiagnostics::ShowLog() {
    auto say = [this](long id, const QString& detail) {
        QString text;
        try {
            text = Text(id);
        } catch (const std::exception&) {
            text = ravekqt::LoadResString(id, ravekqt::kEnglishOffset);
        }
        ravekqt::ShowMessage(this, text + QStringLiteral("\n") + detail);
    };
    std::string folder;
    if (mdlAppFolder::GetAppFolder(2, folder) != 0 || folder.empty()) {
        say(kNoLogFileId, QStringLiteral("LogLocation is not set in %1").arg(Q(RegistryFile::LocalMachinePath().string())));
        return;
    }
    const QString log = Q(folder) + QStringLiteral("/Tolvin_Log.log");
    if (!QFileInfo(log).isFile()) {
        say(kNoLogFileId, log);
        return;
    }
    const QString viewer = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (viewer.isEmpty()) {
        say(kNoViewerId, QStringLiteral("xdg-open: ") + log);
        return;
    }
    if (!options_.Start(viewer, {log})) say(kNoViewerId, viewer + QStringLiteral(" ") + log);
}

DetailedInformation* RavekDiagnostics::OpenDetailedInformation() {
    if (!detailed_) detailed_ = new DetailedInformation(languageIndex_, this);
    detailed_->show();
    detailed_->raise();
    detailed_->activateWindow();
    return detailed_;
}

frmAbout* RavekDiagnostics::OpenAbout() {
    if (!about_) about_ = new frmAbout(options_.ProgramVersion, options_.Start, languageIndex_, this);
    about_->show();
    about_->raise();
    about_->activateWindow();
    return about_;
}

}  // namespace voicecheck

#include "Form1.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "StringTable.h"
#include "ToolWindow.h"
#include "cCommonDialog.h"

namespace ravekrestore {

using ravekqt::LoadResString;
using ravekqt::Named;

Form1::Form1(RestoreSettings settings, QWidget* parent) : QMainWindow(parent), settings_(std::move(settings)) {
    setObjectName(QStringLiteral("Form1"));
    BuildControls();
    Check1_->setEnabled(false);
    optOnlyMissing_->setChecked(true);
    // The voices are known from the start, so a typed archive is recognised at once.
    voices_ = ReadRecordingVoices(settings_.KeySuffix);
    LoadCaptions();
    SetButtons();
}

void Form1::BuildControls() {
    auto* central = new QWidget(this);
    setCentralWidget(central);
    auto* layout = new QVBoxLayout(central);
    Label3_ = Named(new QLabel(central), "Label3");
    Label1_ = Named(new QLabel(central), "Label1");
    for (QLabel* label : {Label3_, Label1_}) {
        label->setWordWrap(true);
        layout->addWidget(label);
    }
    auto* archiveRow = new QHBoxLayout;
    Text1_ = Named(new QLineEdit(central), "Text1");
    Text1_->setAccessibleName(QStringLiteral("Archive file"));
    Text1_->installEventFilter(this);
    cmdChoose_ = Named(new QPushButton(central), "cmdChoose");
    archiveRow->addWidget(Text1_, 1);
    archiveRow->addWidget(cmdChoose_);
    layout->addLayout(archiveRow);
    connect(cmdChoose_, &QPushButton::clicked, this, &Form1::cmdChoose_Click);

    auto* frames = new QHBoxLayout;
    Frame1_ = Named(new QGroupBox(central), "Frame1");
    auto* voices = new QVBoxLayout(Frame1_);
    optVoiceTovel_ = Named(new QRadioButton(Frame1_), "optVoiceTovel");
    optVoiceNevi_ = Named(new QRadioButton(Frame1_), "optVoiceNevi");
    voices->addWidget(optVoiceTovel_);
    voices->addWidget(optVoiceNevi_);
    voices->addStretch();
    voiceGroup_ = new QButtonGroup(this);
    voiceGroup_->addButton(optVoiceTovel_);
    voiceGroup_->addButton(optVoiceNevi_);
    connect(optVoiceTovel_, &QRadioButton::clicked, this, &Form1::VoiceClicked);
    connect(optVoiceNevi_, &QRadioButton::clicked, this, &Form1::VoiceClicked);
    Frame3_ = Named(new QGroupBox(central), "Frame3");
    auto* modes = new QVBoxLayout(Frame3_);
    optOnlyMissing_ = Named(new QRadioButton(Frame3_), "optOnlyMissing");
    optAll_ = Named(new QRadioButton(Frame3_), "optAll");
    optMissingAndNewer_ = Named(new QRadioButton(Frame3_), "optMissingAndNewer");
    for (QRadioButton* mode : {optOnlyMissing_, optAll_, optMissingAndNewer_}) modes->addWidget(mode);
    Check1_ = Named(new QCheckBox(Frame3_), "Check1");
    modes->addWidget(Check1_);
    frames->addWidget(Frame1_);
    frames->addWidget(Frame3_, 1);
    layout->addLayout(frames);

    panel_ = ravekqt::ProgressPanel::Add(this, central, layout, 30);
    for (QRadioButton* mode : {optOnlyMissing_, optAll_, optMissingAndNewer_})
        connect(mode, &QRadioButton::clicked, panel_.lblProgress, &QLabel::clear);
    connect(panel_.cmdGo, &QPushButton::clicked, this, &Form1::cmdGo_Click);
    resize(600, 500);
}

void Form1::LoadCaptions() {
    const long offset = settings_.Language.Offset;
    setFont(ravekqt::FontForCharset(QApplication::font(), settings_.Language.Charset));
    setLayoutDirection(ravekqt::LayoutDirectionOf(settings_.Language.Index));
    setWindowTitle(LoadResString(148, offset));
    Label3_->setText(LoadResString(157, offset));
    Label1_->setText(LoadResString(156, offset));
    Frame1_->setTitle(LoadResString(133, offset));
    optVoiceTovel_->setText(LoadResString(134, offset));
    optVoiceNevi_->setText(LoadResString(135, offset));
    cmdChoose_->setText(LoadResString(136, offset));
    panel_.cmdGo->setText(LoadResString(137, offset));
    panel_.cmdCancel->setText(LoadResString(115, offset));
    Frame3_->setTitle(LoadResString(152, offset));
    optOnlyMissing_->setText(LoadResString(153, offset));
    optAll_->setText(LoadResString(154, offset));
    optMissingAndNewer_->setText(LoadResString(155, offset));
    optOnlyMissing_->setToolTip(LoadResString(160, offset));
    optAll_->setToolTip(LoadResString(161, offset));
    optMissingAndNewer_->setToolTip(LoadResString(162, offset));
    Check1_->setText(QStringLiteral("לא להחליף אם קובץ היעד בעל אותו שם כמו בתוך המארז יותר חדש"));
}

void Form1::SetButtons() {
    const bool voice = optVoiceTovel_->isChecked() || optVoiceNevi_->isChecked();
    const bool mode = optOnlyMissing_->isChecked() || optAll_->isChecked() || optMissingAndNewer_->isChecked();
    panel_.cmdGo->setEnabled(!archivePath_.isEmpty() && voice && mode && accepted_);
}

void Form1::ClearVoices() {
    voiceGroup_->setExclusive(false);
    optVoiceTovel_->setChecked(false);
    optVoiceNevi_->setChecked(false);
    voiceGroup_->setExclusive(true);
}

void Form1::Recognise() {
    ClearVoices();
    switch (RecogniseVoice(archivePath_, voices_)) {
        case 1:
            optVoiceTovel_->setChecked(true);
            targetFolder_ = voices_.RecordsRoot + QLatin1Char('/') + voices_.Male;
            break;
        case 2:
            optVoiceNevi_->setChecked(true);
            targetFolder_ = voices_.RecordsRoot + QLatin1Char('/') + voices_.Female;
            break;
        default:
            break;
    }
}

void Form1::VoiceClicked() {
    const QString voice = optVoiceTovel_->isChecked() ? voices_.Male : voices_.Female;
    targetFolder_ = voices_.RecordsRoot + QLatin1Char('/') + voice;
    panel_.lblProgress->clear();
    SetButtons();
}

void Form1::cmdChoose_Click() {
    voices_ = ReadRecordingVoices(settings_.KeySuffix);
    if (dialogFolder_.isEmpty()) dialogFolder_ = voices_.RecordsRoot;
    ravekqt::cCommonDialog dialog;
    ravekqt::OpenFileArgs args;
    args.Filename = archivePath_;
    args.FileTitle = LoadResString(147, settings_.Language.Offset);
    args.DlgTitle = args.FileTitle;
    args.FileMustExist = true;
    args.MultiSelect = false;
    args.Filter = QStringLiteral("Zip(*.zip)|*.zip");
    args.FilterIndex = 1;
    args.InitDir = dialogFolder_;
    args.DefaultExt = QStringLiteral("zip");
    args.Owner = ravekqt::cCommonDialog::OwnerOf(this);
    dialog.VBGetOpenFileName(args);
    archivePath_ = args.Filename;  // emptied by a cancelled dialog
    panel_.lblProgress->clear();
    Text1_->setText(archivePath_);
    accepted_ = true;
    Recognise();
    SetButtons();
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Text1_ && event->type() == QEvent::FocusOut) Text1_LostFocus();
    return QMainWindow::eventFilter(watched, event);
}

void Form1::Text1_LostFocus() {
    const QString text = Text1_->text();
    if (text == archivePath_) return;
    if (!QFileInfo(text).isFile()) {
        Text1_->setFocus();
        return;
    }
    accepted_ = true;
    archivePath_ = text;
    Recognise();
    SetButtons();
}

RestoreMode Form1::Mode() const {
    if (optAll_->isChecked()) return RestoreMode::All;
    if (optMissingAndNewer_->isChecked()) return RestoreMode::MissingAndNewer;
    return RestoreMode::OnlyMissing;
}

void Form1::cmdGo_Click() {
    if (busy_ || !(optVoiceTovel_->isChecked() || optVoiceNevi_->isChecked())) return;
    busy_ = true;
    panel_.cmdGo->setEnabled(false);
    panel_.cmdCancel->setEnabled(false);
    RestoreJob job;
    job.ArchivePath = archivePath_;
    job.TargetFolder = targetFolder_;
    job.Lcid = settings_.Lcid;
    job.Mode = Mode();
    job.LanguageOffset = settings_.Language.Offset;
    job.AnsiCodePage = settings_.AnsiCodePage;
    job.Status = [this](const QString& text) { panel_.ShowStatus(text); };
    job.LogLine = [this](const QString& line) { panel_.AppendLog(line); };
    lastResult_ = job.Run();
    accepted_ = false;
    panel_.cmdGo->setEnabled(true);
    panel_.cmdCancel->setEnabled(true);
    busy_ = false;
    SetButtons();
}

void Form1::closeEvent(QCloseEvent* event) {
    if (busy_) event->ignore();
    else event->accept();
}

}  // namespace ravekrestore

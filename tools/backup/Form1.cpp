#include "Form1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
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

namespace ravekbackup {

using ravekqt::LoadResString;
using ravekqt::Named;

Form1::Form1(BackupSettings settings, QWidget* parent) : QMainWindow(parent), settings_(std::move(settings)) {
    setObjectName(QStringLiteral("Form1"));
    BuildControls();
    Option1_->setChecked(true);
    LoadCaptions();
    archiveFolder_ = settings_.RecordsRoot;
    archiveName_ = ravekbackup::ArchiveName(SelectedVoice());
    ShowPath();
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
    Frame1_ = Named(new QGroupBox(central), "Frame1");
    auto* voices = new QHBoxLayout(Frame1_);
    Option1_ = Named(new QRadioButton(Frame1_), "Option1");
    Option2_ = Named(new QRadioButton(Frame1_), "Option2");
    voices->addWidget(Option1_);
    voices->addWidget(Option2_);
    layout->addWidget(Frame1_);
    connect(Option1_, &QRadioButton::clicked, this, &Form1::VoiceClicked);
    connect(Option2_, &QRadioButton::clicked, this, &Form1::VoiceClicked);

    auto* pathRow = new QHBoxLayout;
    lblText_ = Named(new QLineEdit(central), "lblText");
    lblText_->setAccessibleName(QStringLiteral("Archive file"));
    lblText_->installEventFilter(this);
    cmdChange_ = Named(new QPushButton(central), "cmdChange");
    pathRow->addWidget(lblText_, 1);
    pathRow->addWidget(cmdChange_);
    layout->addLayout(pathRow);
    connect(cmdChange_, &QPushButton::clicked, this, &Form1::cmdChange_Click);

    panel_ = ravekqt::ProgressPanel::Add(this, central, layout, 40);
    connect(panel_.cmdGo, &QPushButton::clicked, this, &Form1::cmdGo_Click);
    resize(560, 460);
}

void Form1::LoadCaptions() {
    const long offset = settings_.Language.Offset;
    const QFont font = ravekqt::FontForCharset(QApplication::font(), settings_.Language.Charset);
    for (QWidget* w : std::initializer_list<QWidget*>{Label3_, Label1_, Frame1_, Option1_, Option2_, cmdChange_, panel_.cmdGo,
                                                       panel_.cmdCancel, panel_.lblProgress})
        w->setFont(font);
    setLayoutDirection(ravekqt::LayoutDirectionOf(settings_.Language.Index));
    setWindowTitle(LoadResString(130, offset));
    Label3_->setText(LoadResString(131, offset));
    Label1_->setText(LoadResString(132, offset));
    Frame1_->setTitle(LoadResString(133, offset));
    Option1_->setText(LoadResString(134, offset));
    Option2_->setText(LoadResString(135, offset));
    cmdChange_->setText(LoadResString(163, offset));
    panel_.cmdGo->setText(LoadResString(137, offset));
    panel_.cmdCancel->setText(LoadResString(115, offset));
}

QString Form1::SelectedVoice() const { return Option1_->isChecked() ? settings_.MaleVoice : settings_.FemaleVoice; }

void Form1::ShowPath() { lblText_->setText(archiveFolder_ + QLatin1Char('/') + archiveName_); }

void Form1::VoiceClicked() {
    panel_.lblProgress->clear();
    archiveName_ = ravekbackup::ArchiveName(SelectedVoice());
    ShowPath();
    panel_.lstLog->clear();
}

void Form1::cmdChange_Click() {
    if (archiveName_.isEmpty()) archiveName_ = ravekbackup::ArchiveName(SelectedVoice());
    ravekqt::cCommonDialog dialog;
    ravekqt::SaveFileArgs args;
    args.Filename = archiveFolder_ + QLatin1Char('/') + archiveName_;
    args.DlgTitle = SelectedVoice() + QLatin1Char(' ') + LoadResString(138, settings_.Language.Offset);
    args.Filter = QStringLiteral("Zip(*.zip)|*.zip");
    args.FilterIndex = 1;
    args.DefaultExt = QStringLiteral("zip");
    args.OverWritePrompt = true;
    args.Owner = ravekqt::cCommonDialog::OwnerOf(this);
    if (!dialog.VBGetSaveFileName(args)) return;
    const qsizetype slash = args.Filename.lastIndexOf(QLatin1Char('/'));
    archiveFolder_ = args.Filename.left(slash);
    archiveName_ = args.Filename.mid(slash + 1);
    ShowPath();
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == lblText_ && event->type() == QEvent::FocusIn) focusText_ = lblText_->text();
    if (watched == lblText_ && event->type() == QEvent::FocusOut) lblText_LostFocus();
    return QMainWindow::eventFilter(watched, event);
}

void Form1::lblText_LostFocus() {
    panel_.lblProgress->clear();
    const QString text = lblText_->text();
    const long offset = settings_.Language.Offset;
    auto refuse = [&](long id) {
        ravekqt::ShowMessage(this, LoadResString(id, offset));
        lblText_->setText(focusText_);
    };
    if (text.isEmpty()) return refuse(144);
    const qsizetype slash = text.lastIndexOf(QLatin1Char('/'));
    if (slash < 1) return refuse(145);
    const QString folder = text.left(slash);
    if (!QDir(folder).exists()) return refuse(145);
    archiveFolder_ = folder;
    archiveName_ = text.mid(slash + 1);
    locationChanged_ = true;
    if (archiveName_.isEmpty()) {
        archiveName_ = ravekbackup::ArchiveName(SelectedVoice());
        ShowPath();
    }
}

void Form1::SetControlsEnabled(bool enabled) {
    for (QWidget* w : std::initializer_list<QWidget*>{panel_.cmdGo, panel_.cmdCancel, Option1_, Option2_, cmdChange_})
        w->setEnabled(enabled);
}

void Form1::cmdGo_Click() {
    if (busy_) return;
    busy_ = true;
    BackupJob job;
    job.RecordsRoot = settings_.RecordsRoot;
    job.Voice = SelectedVoice();
    job.ArchivePath = archiveFolder_ + QLatin1Char('/') + archiveName_;
    job.Lcid = settings_.Lcid;
    job.LanguageOffset = settings_.Language.Offset;
    // The packing runs on this thread; the window stays alive through the packer's messages.
    job.Status = [this](const QString& text) { panel_.ShowStatus(text); };
    job.LogLine = [this](const QString& line) { panel_.AppendLog(line); };
    job.Started = [this] { SetControlsEnabled(false); };
    job.Run();
    SetControlsEnabled(true);
    busy_ = false;
}

void Form1::closeEvent(QCloseEvent* event) {
    // Closing in the middle would leave the packer without its window.
    if (busy_) event->ignore();
    else event->accept();
}

}  // namespace ravekbackup

#pragma once
// The backup window: choose a voice, see or change the archive's name and folder, pack, and
// follow the progress. Controls carry the names the program has always used.
#include <QMainWindow>

#include "ToolWindow.h"

#include "Backup.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;

namespace ravekbackup {

class Form1 : public QMainWindow {
    Q_OBJECT
public:
    explicit Form1(BackupSettings settings, QWidget* parent = nullptr);

    QString ArchiveFolder() const { return archiveFolder_; }
    QString ArchiveName() const { return archiveName_; }
    bool Busy() const { return busy_; }

    // The button handlers, callable by tests.
    void cmdGo_Click();
    void cmdChange_Click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildControls();
    void LoadCaptions();
    QString SelectedVoice() const;
    void VoiceClicked();
    void lblText_LostFocus();
    void SetControlsEnabled(bool enabled);
    void ShowPath();

    BackupSettings settings_;
    QString archiveFolder_;
    QString archiveName_;
    QString focusText_;
    bool locationChanged_ = false;
    bool busy_ = false;

    QLabel* Label3_;
    QLabel* Label1_;
    QGroupBox* Frame1_;
    QRadioButton* Option1_;
    QRadioButton* Option2_;
    QLineEdit* lblText_;
    QPushButton* cmdChange_;
    ravekqt::ProgressPanel panel_;  // lblProgress, lstLog, cmdGo, cmdCancel
};

}  // namespace ravekbackup

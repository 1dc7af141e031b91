#pragma once
// The restore window: choose an archive, see the voice recognised from its name, choose how
// existing recordings are treated, extract, and follow the progress. Controls carry the names
// the program has always used.
#include <QMainWindow>

#include "ToolWindow.h"

#include "Restore.h"

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;

namespace ravekrestore {

class Form1 : public QMainWindow {
    Q_OBJECT
public:
    explicit Form1(RestoreSettings settings, QWidget* parent = nullptr);

    QString ArchivePath() const { return archivePath_; }
    QString TargetFolder() const { return targetFolder_; }
    bool Busy() const { return busy_; }
    int LastResult() const { return lastResult_; }

    // Handlers callable by tests.
    void cmdChoose_Click();
    void cmdGo_Click();
    // Takes a typed archive path as Text1 does when it loses the focus.
    void Text1_LostFocus();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildControls();
    void LoadCaptions();
    void SetButtons();
    void ClearVoices();
    void Recognise();
    void VoiceClicked();
    RestoreMode Mode() const;

    RestoreSettings settings_;
    RecordingVoices voices_;
    QString archivePath_;
    QString dialogFolder_;
    QString targetFolder_;
    bool accepted_ = false;
    bool busy_ = false;
    int lastResult_ = 0;

    QLabel* Label3_;
    QLabel* Label1_;
    QLineEdit* Text1_;
    QPushButton* cmdChoose_;
    QGroupBox* Frame1_;
    QButtonGroup* voiceGroup_;
    QRadioButton* optVoiceTovel_;
    QRadioButton* optVoiceNevi_;
    QGroupBox* Frame3_;
    QRadioButton* optOnlyMissing_;
    QRadioButton* optAll_;
    QRadioButton* optMissingAndNewer_;
    QCheckBox* Check1_;
    ravekqt::ProgressPanel panel_;  // lblProgress, lstLog, cmdGo, cmdCancel
};

}  // namespace ravekrestore

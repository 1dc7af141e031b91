#pragma once
// The detailed version check of one dictionary voice: the database's version, the index file's
// version, and the header of every binary file the index names, one line each, then the verdict.
#include <QDialog>

#include <string>

class QListWidget;
class QRadioButton;

namespace voicecheck {

class DetailedInformation : public QDialog {
    Q_OBJECT
public:
    DetailedInformation(long languageIndex, QWidget* parent = nullptr);

    // Fills txtStatus with the check of `voice`.
    void CheckVersionInfo(const std::string& voice);

private:
    void CheckSelectedVoice();
    void AddLine(const QString& line);

    std::string maleVoice_;
    std::string femaleVoice_;
    QRadioButton* option1_ = nullptr;
    QRadioButton* option2_ = nullptr;
    QListWidget* txtStatus_ = nullptr;
};

}  // namespace voicecheck

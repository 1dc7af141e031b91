#include "DetailedInformation.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <filesystem>

#include "Dictionary.h"
#include "ToolWindow.h"
#include "mIndexFiles.h"
#include "mMDBConnection.h"
#include "mVersionCOntrol.h"
#include "mdlAppFolder.h"

namespace voicecheck {
namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

std::string Trim(const std::string& s) {
    const std::size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

bool IsFile(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

}  // namespace

DetailedInformation::DetailedInformation(long languageIndex, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("DetailedInformation"));
    setWindowTitle(QStringLiteral("Detailed information"));
    setLayoutDirection(ravekqt::LayoutDirectionOf(languageIndex));
    try {
        const mdlAppFolder::VoiceNames names = mdlAppFolder::LoadVoiceNames();
        maleVoice_ = names.Male;
        femaleVoice_ = names.Female;
    } catch (const std::exception& e) {
        ravekqt::ShowMessage(this, QString::fromUtf8(e.what()));
    }
    auto* frame = new QGroupBox(QStringLiteral("Voice Selection"), this);
    frame->setObjectName(QStringLiteral("Frame1"));
    option1_ = new QRadioButton(Q(maleVoice_), frame);
    option1_->setObjectName(QStringLiteral("Option1"));
    option2_ = new QRadioButton(Q(femaleVoice_), frame);
    option2_->setObjectName(QStringLiteral("Option2"));
    option1_->setChecked(true);
    auto* options = new QHBoxLayout(frame);
    options->addWidget(option1_);
    options->addWidget(option2_);
    options->addStretch();

    txtStatus_ = new QListWidget(this);
    txtStatus_->setObjectName(QStringLiteral("txtStatus"));
    txtStatus_->setAccessibleName(QStringLiteral("Status"));
    txtStatus_->setMinimumSize(520, 260);
    // The lines are file names and versions: left to right whatever the window's direction.
    txtStatus_->setLayoutDirection(Qt::LeftToRight);

    auto* ok = new QPushButton(QStringLiteral("Check Version"), this);
    ok->setObjectName(QStringLiteral("OKButton"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("CancelButton"));
    connect(ok, &QPushButton::clicked, this, &DetailedInformation::CheckSelectedVoice);
    connect(cancel, &QPushButton::clicked, this, &QDialog::close);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(frame);
    layout->addWidget(txtStatus_);
    layout->addLayout(buttons);
}

void DetailedInformation::CheckSelectedVoice() { CheckVersionInfo(option1_->isChecked() ? maleVoice_ : femaleVoice_); }

void DetailedInformation::AddLine(const QString& line) { txtStatus_->addItem(line); }

void DetailedInformation::CheckVersionInfo(const std::string& voice) {
    txtStatus_->clear();
    bool passed = true;
    std::string applicationPath;
    mdlAppFolder::GetAppFolder(1, applicationPath);
    const std::string folder = applicationPath + "/RavekDictionary/";
    mMDBConnection::VersionDatabase database;
    std::string databaseVersion;
    bool haveVersion = false;
    try {
        database.OpenVersionDatabase(folder);
        haveVersion = database.GetVersionInfoField(voice, "Version", databaseVersion);
    } catch (const std::exception& e) {
        AddLine(QString::fromUtf8(e.what()));
    }
    if (!haveVersion) {
        AddLine(QStringLiteral("Cannot detect database version"));
        passed = false;
    } else {
        AddLine(QStringLiteral("Database version ") + Q(databaseVersion));
        const std::string expectedVersion = Trim(databaseVersion);
        const std::string index = mIndexFiles::IndexFilePath(applicationPath, voice);
        int32_t count = 0;
        if (IsFile(index)) {
            try {
                std::string indexVersion;
                if (mVersionCOntrol::GetFileVersion(index, mVersionCOntrol::IndexFile, indexVersion)) {
                    AddLine(QStringLiteral("Index file version ") + Q(indexVersion));
                    if (Trim(indexVersion) != expectedVersion) passed = false;
                } else {
                    AddLine(QStringLiteral("Index file version not detected"));
                    passed = false;
                }
                Dictionary entries;
                std::string reason;
                if (mVersionCOntrol::CountBinaryFiles(index, entries, count, &reason) != 0) {
                    // An index the engine cannot load is no consistent voice.
                    AddLine(QStringLiteral("Index file cannot be read: ") + Q(reason));
                    passed = false;
                }
            } catch (const std::exception& e) {
                AddLine(QString::fromUtf8(e.what()));
                passed = false;
            }
        } else {
            AddLine(QStringLiteral("Index file not found at ") + Q(index));
            passed = false;
        }
        AddLine(QStringLiteral("Expected number of Binary Files %1").arg(count));
        // Every binary file is visited up to the last one that exists; after it, the first missing
        // number ends the list, so a huge number in the index costs no time.
        const int32_t lastFound = mVersionCOntrol::LastBinaryFileFound(applicationPath, voice, count);
        for (int32_t n = 1; n <= count; ++n) {
            const std::string bin = mIndexFiles::BinFilePath(applicationPath, voice, n);
            if (!IsFile(bin)) {
                AddLine(QStringLiteral("Bin file not found at ") + Q(bin));
                passed = false;
                if (n > lastFound && n < count) {
                    AddLine(QStringLiteral("Bin files %1 to %2 not found either: none exists after file %3")
                                .arg(n + 1)
                                .arg(count)
                                .arg(lastFound));
                    break;
                }
                continue;
            }
            try {
                std::string header;
                if (mVersionCOntrol::GetFileVersion(bin, mVersionCOntrol::BinaryFile, header)) {
                    AddLine(QStringLiteral("Bin file %1 version ").arg(n) + Q(header));
                    const std::string expected = n == count ? expectedVersion : std::to_string(n) + ":C";
                    if (Trim(header) != expected) passed = false;
                } else {
                    AddLine(QStringLiteral("Bin file ") + Q(bin) + QStringLiteral(" version not detected"));
                    passed = false;
                }
            } catch (const std::exception& e) {
                AddLine(QString::fromUtf8(e.what()));
                passed = false;
            }
        }
    }
    AddLine(QString(41, QLatin1Char('-')));
    if (passed)
        AddLine(QStringLiteral("Version for voice ") + Q(voice) + QStringLiteral(" is ") + Q(databaseVersion) + QStringLiteral(" : PASSED"));
    else
        AddLine(QStringLiteral("Version for voice ") + Q(voice) + QStringLiteral(" is not consistant : FAILED"));
    database.CloseVersionDatabase();
}

}  // namespace voicecheck

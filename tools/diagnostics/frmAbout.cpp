#include "frmAbout.h"

#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStandardPaths>

#include <cstdio>

#include "RegistryFile.h"
#include "ToolWindow.h"

namespace voicecheck {
namespace {

const QString kProgramTitle = QStringLiteral("VoiceCheck");

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

bool IsFile(const QString& path) { return QFileInfo(path).isFile(); }

}  // namespace

bool GetKeyValue(const std::string& key, const std::string& valueName, std::string& value) {
    const RegistryFile::Document registry = RegistryFile::Document::Load(RegistryFile::LocalMachinePath());
    const auto found = registry.Find("HKEY_LOCAL_MACHINE\\" + key, valueName);
    if (!found) return false;
    switch (found->type) {
        case RegistryFile::ValueType::String: {
            value = found->text;
            if (const auto nul = value.find('\0'); nul != std::string::npos) value.resize(nul);
            break;
        }
        case RegistryFile::ValueType::Dword: {
            value = "&h";
            for (int byte = 3; byte >= 0; --byte) {
                char digits[4];
                std::snprintf(digits, sizeof digits, "%X", (found->number >> (8 * byte)) & 0xFFu);
                value += digits;
            }
            break;
        }
        default: break;
    }
    return true;
}

std::optional<QString> SystemInformationProgram() {
    std::string path;
    try {
        if (GetKeyValue("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", "PATH", path) && IsFile(QString::fromStdString(path)))
            return QString::fromStdString(path);
        if (GetKeyValue("SOFTWARE\\Microsoft\\Shared Tools Location", "MSINFO", path)) {
            const QString program = QString::fromStdString(path) + QStringLiteral("/MSINFO32.EXE");
            if (IsFile(program)) return program;
        }
    } catch (const std::exception&) {
        // an unreadable registry file names no program
    }
    // The desktop's own system information programs.
    for (const char* name : {"hardinfo2", "hardinfo", "kinfocenter", "gnome-system-monitor", "lshw-gtk"}) {
        const QString program = QStandardPaths::findExecutable(QString::fromLatin1(name));
        if (!program.isEmpty()) return program;
    }
    return std::nullopt;
}

frmAbout::frmAbout(const QString& programVersion, StartProgram start, long languageIndex, QWidget* parent)
    : QDialog(parent), start_(std::move(start)) {
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About ") + kProgramTitle);
    setLayoutDirection(ravekqt::LayoutDirectionOf(languageIndex));
    auto* picIcon = MakeLabel(this, "picIcon", QString());
    picIcon->setPixmap(ProgramIcon().pixmap(48, 48));
    picIcon->setAccessibleName(kProgramTitle);
    auto* lblTitle = MakeLabel(this, "lblTitle", kProgramTitle);
    QFont titleFont = lblTitle->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.4);
    lblTitle->setFont(titleFont);
    auto* lblVersion = MakeLabel(this, "lblVersion", QStringLiteral("Version ") + programVersion);
    auto* lblDescription = MakeLabel(this, "lblDescription", QStringLiteral("App Description"));
    auto* lblDisclaimer = MakeLabel(this, "lblDisclaimer", QStringLiteral("Warning: ..."));
    auto* line1 = new QFrame(this);
    line1->setObjectName(QStringLiteral("Line1"));
    line1->setFrameShape(QFrame::HLine);
    line1->setFrameShadow(QFrame::Sunken);
    auto* cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setDefault(true);
    auto* cmdSysInfo = new QPushButton(QStringLiteral("&System Info..."), this);
    cmdSysInfo->setObjectName(QStringLiteral("cmdSysInfo"));
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::close);
    connect(cmdSysInfo, &QPushButton::clicked, this, &frmAbout::StartSysInfo);

    auto* layout = new QGridLayout(this);
    layout->addWidget(picIcon, 0, 0, 3, 1, Qt::AlignTop);
    layout->addWidget(lblTitle, 0, 1);
    layout->addWidget(lblVersion, 1, 1);
    layout->addWidget(lblDescription, 2, 1);
    layout->addWidget(line1, 3, 0, 1, 2);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(lblDisclaimer, 1);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdSysInfo);
    bottom->addLayout(buttons);
    layout->addLayout(bottom, 4, 0, 1, 2);
    setMinimumWidth(380);
}

void frmAbout::StartSysInfo() {
    const std::optional<QString> program = SystemInformationProgram();
    if (!program || !start_ || !start_(*program, {}))
        ravekqt::ShowMessage(this, QStringLiteral("System Information Is Unavailable At This Time"));
}

}  // namespace voicecheck

#include "ToolWindow.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QWidget>

#include "ManageCodePage.h"
#include "RegistryFile.h"

namespace ravekqt {

ToolLanguage SystemLanguage(const std::filesystem::path& registryFile) {
    ManageCodePage::LoadLanguageTable();
    ToolLanguage language;
    language.Index = ManageCodePage::GetSystemLanguageIndex(registryFile);
    language.Offset = ManageCodePage::GetLanguageOffset(language.Index);
    language.Charset = ManageCodePage::GetLanguageCharset(language.Index);
    return language;
}

bool IsRightToLeft(long languageIndex) { return languageIndex == 1 || languageIndex == 4; }

Qt::LayoutDirection LayoutDirectionOf(long languageIndex) {
    return IsRightToLeft(languageIndex) ? Qt::RightToLeft : Qt::LeftToRight;
}

QFontDatabase::WritingSystem WritingSystemOfCharset(long charset) {
    switch (charset) {
        case 177: return QFontDatabase::Hebrew;
        case 178: return QFontDatabase::Arabic;
        case 204: return QFontDatabase::Cyrillic;
        case 161: return QFontDatabase::Greek;
        default: return QFontDatabase::Latin;
    }
}

QFont FontForCharset(const QFont& base, long charset) {
    const QFontDatabase::WritingSystem script = WritingSystemOfCharset(charset);
    if (QFontDatabase::writingSystems(base.family()).contains(script)) return base;
    const QStringList families = QFontDatabase::families(script);
    if (families.isEmpty()) return base;
    // Prefer a family that also writes Latin: the tools mix the language with Latin names.
    QString chosen = families.first();
    for (const QString& family : families)
        if (QFontDatabase::writingSystems(family).contains(QFontDatabase::Latin) && !QFontDatabase::isPrivateFamily(family)) {
            chosen = family;
            break;
        }
    QFont font = base;
    font.setFamilies({chosen});
    return font;
}

QMessageBox* ShowMessage(QWidget* parent, const QString& text, const QString& title) {
    auto* box = new QMessageBox(QMessageBox::NoIcon, title.isEmpty() && parent ? parent->window()->windowTitle() : title,
                                text, QMessageBox::Ok, parent);
    box->setObjectName(QStringLiteral("MessageBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    box->open();
    return box;
}

QString ErrorText(qint32 number, const QString& source, const QString& description) {
    return QStringLiteral("Run-time error '%1':\n\n%2\n\nSource: %3").arg(number).arg(description, source);
}

QMessageBox* ShowError(QWidget* parent, qint32 number, const QString& source, const QString& description) {
    QMessageBox* box = ShowMessage(parent, ErrorText(number, source, description));
    box->setIcon(QMessageBox::Critical);
    return box;
}

void IdentifyTool(const QString& name, const QString& version, const QString& desktopId) {
    QCoreApplication::setApplicationName(name);
    QCoreApplication::setApplicationVersion(version);
    if (desktopId.isEmpty()) return;
    QGuiApplication::setDesktopFileName(desktopId);
    const QString icon = QStringLiteral(":/ravek/") + desktopId + QStringLiteral(".svg");
    if (QFile::exists(icon)) QGuiApplication::setWindowIcon(QIcon(icon));
}

bool AnsweredWithoutWindow(int argc, char** argv, std::initializer_list<const char*> moreOptions) {
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        for (const char* option : {"-h", "--help", "-?", "--help-all", "-v", "--version"})
            if (arg == option) return true;
        for (const char* option : moreOptions)
            if (arg == option || arg.startsWith(QByteArray(option) + '=')) return true;
    }
    return false;
}

std::optional<QString> RegistryFileProblem() {
    const QString path = QString::fromStdString(RegistryFile::LocalMachinePath().string());
    const QFileInfo file(path);
    if (!file.exists()) return QStringLiteral("no registry file %1 (RAVEK_REGISTRY names the engine's registry file)").arg(path);
    if (!file.isFile()) return QStringLiteral("the registry file %1 is not a file").arg(path);
    if (!file.isReadable()) return QStringLiteral("the registry file %1 cannot be read").arg(path);
    return std::nullopt;
}

void PrintLine(FILE* to, const QString& text) {
    std::fputs(text.toUtf8().constData(), to);
    std::fputc('\n', to);
}

ProgressPanel ProgressPanel::Add(QWidget* window, QWidget* central, QBoxLayout* layout, int progressHeight) {
    ProgressPanel panel;
    panel.lblProgress = Named(new QLabel(central), "lblProgress");
    panel.lblProgress->setAccessibleDescription(QStringLiteral("Progress"));
    panel.lblProgress->setWordWrap(true);
    panel.lblProgress->setMinimumHeight(progressHeight);
    layout->addWidget(panel.lblProgress);
    panel.lstLog = Named(new QListWidget(central), "lstLog");
    panel.lstLog->setAccessibleName(QStringLiteral("Log"));
    layout->addWidget(panel.lstLog, 1);

    auto* buttons = new QHBoxLayout;
    panel.cmdGo = Named(new QPushButton(central), "cmdGo");
    panel.cmdCancel = Named(new QPushButton(central), "cmdCancel");
    buttons->addStretch();
    buttons->addWidget(panel.cmdGo);
    buttons->addWidget(panel.cmdCancel);
    layout->addLayout(buttons);
    QObject::connect(panel.cmdCancel, &QPushButton::clicked, window, &QWidget::close);
    return panel;
}

void ProgressPanel::ShowStatus(const QString& text) const {
    lblProgress->setText(text);
    QApplication::processEvents();
}

void ProgressPanel::AppendLog(const QString& line) const {
    lstLog->addItem(line);
    lstLog->scrollToBottom();
}

}  // namespace ravekqt

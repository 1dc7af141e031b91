#pragma once
// What every tool window does the same way: the language it shows itself in (from the code page
// manager), right-to-left layout for Hebrew and Arabic, fonts that can write the language, and
// messages that never block the window.
#include <QFont>
#include <QFontDatabase>
#include <QString>
#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <optional>

class QBoxLayout;
class QLabel;
class QListWidget;
class QMessageBox;
class QPushButton;
class QWidget;

namespace ravekqt {

struct ToolLanguage {
    long Index = 4;        // 1 Hebrew, 2 Russian, 3 English, 4 Arabic
    long Offset = 1000;    // string-table offset
    long Charset = 178;    // font character set
};

// The system's language as the code page manager finds it (registry file, else POSIX locale).
ToolLanguage SystemLanguage(const std::filesystem::path& registryFile = {});

// Hebrew and Arabic windows lay out right to left.
bool IsRightToLeft(long languageIndex);
Qt::LayoutDirection LayoutDirectionOf(long languageIndex);

// The writing system of a font character set: 177 Hebrew, 178 Arabic, 204 Cyrillic, 161 Greek,
// anything else Latin.
QFontDatabase::WritingSystem WritingSystemOfCharset(long charset);
// `base`, or the same font in a family that can write the character set's script when base's
// family cannot.
QFont FontForCharset(const QFont& base, long charset);

// A message box that does not stop the window (window-modal, deleted when closed); returned so
// that callers and tests can find it. Its object name is "MessageBox".
QMessageBox* ShowMessage(QWidget* parent, const QString& text, const QString& title = {});
// An error with its number, source and description, in the form users of the engine know:
// "Run-time error '999':", the description, then the source.
QMessageBox* ShowError(QWidget* parent, qint32 number, const QString& source, const QString& description);
QString ErrorText(qint32 number, const QString& source, const QString& description);

// Names the running program (for --help, --version and the desktop): `desktopId` also ties its
// windows to the desktop entry of that name and gives them the icon built in as
// :/ravek/<desktopId>.svg. Call after the application object is made.
void IdentifyTool(const QString& name, const QString& version, const QString& desktopId = {});

// Whether the command line asks for help or the version, or holds one of `moreOptions` ("--x" or
// "--x=value"): such a run is answered without a window, so it must not need a display.
bool AnsweredWithoutWindow(int argc, char** argv, std::initializer_list<const char*> moreOptions = {});
// What keeps the engine's registry file ($RAVEK_REGISTRY) from being read, naming the file: it is
// missing, no file, or unreadable; nullopt when it can be read.
std::optional<QString> RegistryFileProblem();
// One line of text on a console stream, in UTF-8.
void PrintLine(FILE* to, const QString& text);

// The lower part of a window that runs one long job: the progress line "lblProgress" (accessible
// description "Progress"), the log list "lstLog" (named "Log"), and the buttons "cmdGo" and
// "cmdCancel" (which closes the window).
struct ProgressPanel {
    QLabel* lblProgress = nullptr;
    QListWidget* lstLog = nullptr;
    QPushButton* cmdGo = nullptr;
    QPushButton* cmdCancel = nullptr;

    // Makes the controls in `window`'s central widget `central` and adds them to `layout`.
    static ProgressPanel Add(QWidget* window, QWidget* central, QBoxLayout* layout, int progressHeight);
    // The job's status, shown at once: the job runs on the window's thread, which goes on
    // serving the window through these calls.
    void ShowStatus(const QString& text) const;
    void AppendLog(const QString& line) const;
};

// `widget` with the object name that tests and the accessibility tree find it by.
template <typename W>
W* Named(W* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

}  // namespace ravekqt

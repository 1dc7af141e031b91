#pragma once
// The tools' file dialogs: one call with named, optional arguments over Qt's file dialog. The
// arguments travel in a record that the call fills with the user's answer; the last result and
// the last extended error stay readable afterwards.
//
//   cCommonDialog dialog;
//   OpenFileArgs args;
//   args.Filter = "Zip(*.zip)|*.zip";
//   args.InitDir = folder;
//   if (dialog.VBGetOpenFileName(args)) use(args.Filename);
//
// Only the open and save dialogs (and the file title) are provided; the tools need no colour,
// font, print or page-setup dialog.
#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>

class QFileDialog;
class QWidget;

namespace ravekqt {

// Flag bits of the open and save dialogs, as callers pass and read them back.
namespace DialogFlags {
constexpr qint32 ReadOnly = 0x1;          // the read-only box is checked
constexpr qint32 OverwritePrompt = 0x2;   // ask before replacing an existing file
constexpr qint32 HideReadOnly = 0x4;      // no read-only box
constexpr qint32 EnableHook = 0x20;       // not supported: removed from the caller's flags
constexpr qint32 EnableTemplate = 0x40;   // not supported: removed from the caller's flags
constexpr qint32 AllowMultiSelect = 0x200;
constexpr qint32 ExtensionDifferent = 0x400;  // returned: the chosen name's extension is not DefaultExt
constexpr qint32 PathMustExist = 0x800;
constexpr qint32 FileMustExist = 0x1000;
}  // namespace DialogFlags

// Extended errors kept in ExtendedError() after a failed dialog.
namespace DialogErrors {
constexpr qint32 DialogFailure = 0xFFFF;   // the owner is no window of this program
constexpr qint32 BufferTooSmall = 0x3003;  // a file name does not fit in 260 characters
}  // namespace DialogErrors

// A file name or title holds at most this many characters, its terminator included.
constexpr int kFileNameBuffer = 260;
// `Owner` value for a dialog without owner window.
constexpr qintptr kNoOwner = -1;

struct OpenFileArgs {
    QString Filename;   // in: preset name (may be empty); out: the chosen file, empty when cancelled
    QString FileTitle;  // out: the chosen file's name without its folder
    bool FileMustExist = true;
    bool MultiSelect = false;
    bool ReadOnly = false;  // in: box checked at start; out: whether it was checked
    bool HideReadOnly = false;
    QString Filter = QStringLiteral("All (*.*)| *.*");  // description|pattern pairs, "|" or ":"
    qint32 FilterIndex = 1;  // 1-based; out: the chosen filter, -1 when cancelled
    QString InitDir;
    QString DlgTitle;
    QString DefaultExt;  // added to a typed name without extension
    qintptr Owner = kNoOwner;  // window id (OwnerOf) or kNoOwner
    qint32 Flags = 0;  // in: extra flag bits; out: the flags the dialog returns, 0 when cancelled
    QStringList Filenames;  // out: every chosen file (several with MultiSelect)
};

struct SaveFileArgs {
    QString Filename;
    QString FileTitle;
    bool OverWritePrompt = true;
    QString Filter = QStringLiteral("All (*.*)| *.*");
    qint32 FilterIndex = 1;
    QString InitDir;
    QString DlgTitle;
    QString DefaultExt;
    qintptr Owner = kNoOwner;
    qint32 Flags = 0;
};

// One filter of a filter text: "Zip(*.zip)|*.zip" holds one, description "Zip(*.zip)" and
// pattern "*.zip".
struct DialogFilter {
    QString Description;
    QString Pattern;
};

class cCommonDialog {
public:
    // Each shows its dialog and waits for the user; true when the user confirmed it.
    bool VBGetOpenFileName(OpenFileArgs& args);
    bool VBGetSaveFileName(SaveFileArgs& args);
    // The title the dialogs show for a file: its name without the folder.
    QString VBGetFileTitle(const QString& sFile) const;

    qint32 APIReturn() const { return apiReturn_; }
    qint32 ExtendedError() const { return extendedError_; }

    // The `Owner` value that makes `window` the dialog's owner.
    static qintptr OwnerOf(QWidget* window);
    // The filters of a filter text, in order.
    static QList<DialogFilter> ParseFilter(const QString& filter);
    // The Qt name filter of one filter ("Zip (*.zip)"); "*.*" matches every file, as users of
    // the dialogs expect, including names without a dot.
    static QString NameFilterOf(const DialogFilter& filter);

private:
    struct Request {
        QString* Filename;
        QString* FileTitle;
        QString* Filter;
        qint32* FilterIndex;
        qint32* Flags;
        QString InitDir;
        QString DlgTitle;
        QString DefaultExt;
        qintptr Owner;
        bool Save;
    };
    // Shows the dialog prepared by `configure`; the chosen files, or none when cancelled or failed.
    QStringList Run(Request& request, qint32 flags, const std::function<void(QFileDialog&)>& configure);
    void Fail(Request& request, qint32 extendedError);

    qint32 apiReturn_ = 0;
    qint32 extendedError_ = 0;
};

}  // namespace ravekqt

#include "cCommonDialog.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QRegularExpression>
#include <QWidget>

namespace ravekqt {

namespace {

bool FitsBuffer(const QString& text) { return text.size() < kFileNameBuffer; }

// The owner window of a dialog; `ok` false when `owner` names no window of this program.
QWidget* OwnerWindow(qintptr owner, bool& ok) {
    ok = true;
    if (owner == kNoOwner || owner == 0) return nullptr;
    QWidget* window = QWidget::find(static_cast<WId>(owner));
    ok = window != nullptr;
    return window;
}

// The index (0-based) of the filter the dialog should start with: FilterIndex counts from 1.
int StartFilter(qint32 filterIndex, int filterCount) {
    return filterIndex >= 1 && filterIndex <= filterCount ? filterIndex - 1 : 0;
}

}  // namespace

QList<DialogFilter> cCommonDialog::ParseFilter(const QString& filter) {
    static const QRegularExpression separators(QStringLiteral("[|:]"));
    const QStringList parts = filter.split(separators);
    QList<DialogFilter> filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) filters.append({parts[i], parts[i + 1]});
    return filters;
}

QString cCommonDialog::NameFilterOf(const DialogFilter& filter) {
    QStringList patterns;
    for (const QString& pattern : filter.Pattern.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString trimmed = pattern.trimmed();
        if (!trimmed.isEmpty()) patterns.append(trimmed == QLatin1String("*.*") ? QStringLiteral("*") : trimmed);
    }
    if (patterns.isEmpty()) patterns.append(QStringLiteral("*"));
    // A description that already shows its patterns in brackets ("Zip(*.zip)") loses them, so
    // that the dialog does not show them twice.
    QString description = filter.Description.trimmed();
    const int open = description.lastIndexOf(QLatin1Char('('));
    if (open >= 0 && description.endsWith(QLatin1Char(')')) &&
        description.mid(open + 1, description.size() - open - 2).trimmed() == filter.Pattern.trimmed())
        description = description.left(open).trimmed();
    return (description.isEmpty() ? QString() : description + QLatin1Char(' ')) + QLatin1Char('(') +
           patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
}

qintptr cCommonDialog::OwnerOf(QWidget* window) {
    return window ? static_cast<qintptr>(window->window()->winId()) : kNoOwner;
}

QString cCommonDialog::VBGetFileTitle(const QString& sFile) const {
    return QFileInfo(sFile).fileName().left(kFileNameBuffer - 1);
}

void cCommonDialog::Fail(Request& request, qint32 extendedError) {
    extendedError_ = extendedError;
    request.Filename->clear();
    request.FileTitle->clear();
    request.Filter->clear();
    *request.FilterIndex = -1;
    *request.Flags = 0;
}

QStringList cCommonDialog::Run(Request& request, qint32 flags, const std::function<void(QFileDialog&)>& configure) {
    apiReturn_ = 0;
    extendedError_ = 0;
    if (!FitsBuffer(*request.Filename) || !FitsBuffer(*request.FileTitle)) {
        Fail(request, DialogErrors::BufferTooSmall);
        return {};
    }
    bool ownerOk = true;
    QWidget* owner = OwnerWindow(request.Owner, ownerOk);
    if (!ownerOk) {
        Fail(request, DialogErrors::DialogFailure);
        return {};
    }

    const QList<DialogFilter> filters = ParseFilter(*request.Filter);
    QStringList nameFilters;
    for (const DialogFilter& filter : filters) nameFilters.append(NameFilterOf(filter));

    QFileDialog dialog(owner, request.DlgTitle, request.InitDir);
    // Qt's own dialog everywhere: the same keyboard and screen-reader behaviour on every desktop.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(request.Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    if (!nameFilters.isEmpty()) {
        dialog.setNameFilters(nameFilters);
        dialog.selectNameFilter(nameFilters[StartFilter(*request.FilterIndex, nameFilters.size())]);
    }
    if (!request.DefaultExt.isEmpty()) dialog.setDefaultSuffix(request.DefaultExt);
    if (!request.Filename->isEmpty()) dialog.selectFile(*request.Filename);
    configure(dialog);

    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        Fail(request, 0);
        return {};
    }
    const QStringList chosen = dialog.selectedFiles();
    const QString title = VBGetFileTitle(chosen.first());
    if (!FitsBuffer(chosen.first())) {
        Fail(request, DialogErrors::BufferTooSmall);
        return {};
    }
    apiReturn_ = 1;
    *request.Filename = chosen.first();
    *request.FileTitle = title;
    const int filterNumber = nameFilters.indexOf(dialog.selectedNameFilter());
    *request.FilterIndex = filterNumber >= 0 ? filterNumber + 1 : 1;
    *request.Filter = filterNumber >= 0 ? filters[filterNumber].Description + QLatin1Char('|') + filters[filterNumber].Pattern
                                        : QString();
    if (!request.DefaultExt.isEmpty() &&
        QFileInfo(chosen.first()).suffix().compare(request.DefaultExt, Qt::CaseInsensitive) != 0)
        flags |= DialogFlags::ExtensionDifferent;
    *request.Flags = flags;
    return chosen;
}

bool cCommonDialog::VBGetOpenFileName(OpenFileArgs& args) {
    qint32 flags = args.Flags & ~(DialogFlags::EnableHook | DialogFlags::EnableTemplate);
    if (args.FileMustExist) flags |= DialogFlags::FileMustExist;
    if (args.MultiSelect) flags |= DialogFlags::AllowMultiSelect;
    if (args.ReadOnly) flags |= DialogFlags::ReadOnly;
    if (args.HideReadOnly) flags |= DialogFlags::HideReadOnly;
    Request request{&args.Filename, &args.FileTitle, &args.Filter, &args.FilterIndex, &args.Flags,
                    args.InitDir,   args.DlgTitle,   args.DefaultExt, args.Owner,       false};
    args.Filenames = Run(request, flags, [&](QFileDialog& dialog) {
        if (flags & DialogFlags::AllowMultiSelect)
            dialog.setFileMode(QFileDialog::ExistingFiles);
        else
            dialog.setFileMode((flags & DialogFlags::FileMustExist) ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    });
    // The dialog has no read-only box: the answer is the box's state as the caller set it.
    if (!args.Filenames.isEmpty()) args.ReadOnly = (args.Flags & DialogFlags::ReadOnly) != 0;
    return !args.Filenames.isEmpty();
}

bool cCommonDialog::VBGetSaveFileName(SaveFileArgs& args) {
    qint32 flags = (args.Flags & ~(DialogFlags::EnableHook | DialogFlags::EnableTemplate)) | DialogFlags::HideReadOnly;
    if (args.OverWritePrompt) flags |= DialogFlags::OverwritePrompt;
    Request request{&args.Filename, &args.FileTitle, &args.Filter, &args.FilterIndex, &args.Flags,
                    args.InitDir,   args.DlgTitle,   args.DefaultExt, args.Owner,       true};
    const QStringList chosen = Run(request, flags, [&](QFileDialog& dialog) {
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setOption(QFileDialog::DontConfirmOverwrite, !(flags & DialogFlags::OverwritePrompt));
    });
    return !chosen.isEmpty();
}

}  // namespace ravekqt

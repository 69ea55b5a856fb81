#include "platform/savefiledialog.h"

#include "platform/messagebox.h"

#include <QFileDialog>
#include <QFileInfo>

namespace {
SaveFileHook g_hook;

QString typedName(QWidget* parent, const SaveFileRequest& request) {
    if (g_hook)
        return g_hook(request);
    QFileDialog dialog(parent, request.caption);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(request.filter);
    // The question and the extension follow below, the same for every caller.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (!request.initialName.isEmpty())
        dialog.selectFile(request.initialName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

QString withDefaultSuffix(const QString& path, const QString& suffix) {
    if (suffix.isEmpty() || QFileInfo(path).fileName().contains(QLatin1Char('.')))
        return path;
    return path + QLatin1Char('.') + suffix;
}
} // namespace

void setSaveFileHook(SaveFileHook hook) {
    g_hook = std::move(hook);
}

QString replaceQuestion(const QString& path) {
    return QStringLiteral("%1 already exists.\nDo you want to replace it?")
        .arg(QFileInfo(path).fileName());
}

QString askSaveFileName(QWidget* parent, const SaveFileRequest& request) {
    SaveFileRequest asked = request;
    for (;;) {
        const QString typed = typedName(parent, asked);
        if (typed.isEmpty())
            return {};
        const QString path = withDefaultSuffix(typed, request.defaultSuffix);
        if (!QFileInfo::exists(path))
            return path;
        if (showMessageBox(parent, replaceQuestion(path), QStringLiteral("Confirm Save As"),
                           QMessageBox::Warning,
                           QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes)
            return path;
        // "No" goes back to the dialog with the name still in it, ready to
        // be changed.
        asked.initialName = typed;
    }
}

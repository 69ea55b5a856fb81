#pragma once

#include <QString>

#include <functional>

class QWidget;

// What the save dialog is opened with.
struct SaveFileRequest {
    QString caption = QStringLiteral("Save As");
    QString filter;        // for example "Video (*.wmv)"
    QString defaultSuffix; // appended to a typed name without extension, no dot
    QString initialName;
};

// Every save dialog of the program opens through here. The platform's dialog
// adds the default extension and asks before replacing a file; both are done
// here, after the dialog, so that a test answering through the hook meets the
// same rules as a person.
//
// Returns the chosen path, or an empty text when the user cancelled. A name
// without extension gets "." + defaultSuffix. When the file exists, the user
// is asked whether to replace it; "No" returns to the dialog, which shows the
// name as typed.
QString askSaveFileName(QWidget* parent, const SaveFileRequest& request);

// The hook receives the request and returns the path as the user typed it,
// or an empty text for Cancel. An empty hook restores the real dialog.
using SaveFileHook = std::function<QString(const SaveFileRequest&)>;
void setSaveFileHook(SaveFileHook hook);

// The question asked before a file is replaced (caption "Confirm Save As").
QString replaceQuestion(const QString& path);

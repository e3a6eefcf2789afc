#pragma once

#include <QString>
#include <QUrl>

#include "workflow/WindowView.h"

class QWidget;

namespace sparkloom {

struct FileDialogRequest {
    enum class Kind { Open, Save };
    Kind kind = Kind::Open;
    QString title;   // empty: the toolkit's own
    QString filter;  // "Text (*.x)|*.x|Other (*.y)|*.y"
    QString defaultExtension;
    QString initialFolder;  // empty: where the system puts it
    QString initialFileName;
};

// Everything the window asks of the user or the desktop goes through here, so
// tests can script the answers and read what was shown.
class UserSeam {
public:
    virtual ~UserSeam() = default;
    // Full path of the chosen file, or "" when the user cancelled.
    virtual QString ChooseFile(QWidget* owner, const FileDialogRequest& request) = 0;
    // Full path of the chosen folder without trailing separator, or "".
    virtual QString BrowseForFolder(QWidget* owner, const QString& initialFolder,
                                    const QString& title) = 0;
    virtual MessageAnswer ShowMessage(QWidget* owner, const QString& text, MessageIcon icon,
                                      MessageButtons buttons) = 0;
    // False when no browser could be asked to open it.
    virtual bool OpenUrl(const QUrl& url) = 0;
};

}  // namespace sparkloom

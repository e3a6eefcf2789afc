#pragma once

#include "app/UserSeam.h"

namespace sparkloom {

// The real dialogs, message boxes and browser of the desktop.
class QtUserSeam : public UserSeam {
public:
    QString ChooseFile(QWidget* owner, const FileDialogRequest& request) override;
    QString BrowseForFolder(QWidget* owner, const QString& initialFolder,
                            const QString& title) override;
    MessageAnswer ShowMessage(QWidget* owner, const QString& text, MessageIcon icon,
                              MessageButtons buttons) override;
    bool OpenUrl(const QUrl& url) override;
};

// "Text (*.x)|*.x|Other (*.y)|*.y" as Qt's name filters: "Text (*.x)", "Other (*.y)".
QStringList QtNameFilters(const QString& filter);

}  // namespace sparkloom

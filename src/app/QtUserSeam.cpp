#include "app/QtUserSeam.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>

namespace sparkloom {

QStringList QtNameFilters(const QString& filter) {
    const QStringList parts = filter.split(u'|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i];
        const QString& pattern = parts[i + 1];
        // Qt reads the patterns from the parentheses, so make sure they are there.
        if (!description.contains(pattern)) {
            description += QStringLiteral(" (") + pattern + u')';
        }
        filters << description;
    }
    return filters;
}

QString QtUserSeam::ChooseFile(QWidget* owner, const FileDialogRequest& request) {
    QFileDialog dialog(owner, request.title);
    const bool save = request.kind == FileDialogRequest::Kind::Save;
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    // The overwrite question is the window's own.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.setNameFilters(QtNameFilters(request.filter));
    QString extension = request.defaultExtension;
    extension.remove(QStringLiteral("*.")).remove(u'.');
    if (!extension.isEmpty() && extension != u'*') {
        dialog.setDefaultSuffix(extension);
    }
    if (!request.initialFolder.isEmpty()) {
        dialog.setDirectory(request.initialFolder);
    }
    if (!request.initialFileName.isEmpty()) {
        dialog.selectFile(request.initialFileName);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return QString();
    }
    return QDir::cleanPath(dialog.selectedFiles().constFirst());
}

QString QtUserSeam::BrowseForFolder(QWidget* owner, const QString& initialFolder,
                                    const QString& title) {
    QFileDialog dialog(owner, title);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    // The Qt dialog, so that a status line can show the highlighted folder.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    if (!initialFolder.isEmpty()) {
        if (QFileInfo(initialFolder).isDir()) {
            dialog.setDirectory(initialFolder);
        }
        auto* status = new QLabel(&dialog);
        status->setObjectName(QStringLiteral("browseStatus"));
        status->setTextInteractionFlags(Qt::TextSelectableByMouse);
        if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout())) {
            grid->addWidget(status, grid->rowCount(), 0, 1, grid->columnCount());
        }
        QObject::connect(&dialog, &QFileDialog::currentChanged, status,
                         [status](const QString& path) {
                             if (!path.isEmpty()) {
                                 status->setText(QDir::toNativeSeparators(path));
                             }
                         });
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return QString();
    }
    QString chosen = QDir::cleanPath(dialog.selectedFiles().constFirst());
    return chosen;
}

MessageAnswer QtUserSeam::ShowMessage(QWidget* owner, const QString& text, MessageIcon icon,
                                      MessageButtons buttons) {
    QMessageBox box(owner);
    box.setWindowTitle(QStringLiteral("Sparkloom"));
    box.setText(text);
    switch (icon) {
        case MessageIcon::None:
            box.setIcon(QMessageBox::NoIcon);
            break;
        case MessageIcon::Information:
            box.setIcon(QMessageBox::Information);
            break;
        case MessageIcon::Warning:
            box.setIcon(QMessageBox::Warning);
            break;
    }
    if (buttons == MessageButtons::OkCancel) {
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Ok);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    return box.exec() == QMessageBox::Ok ? MessageAnswer::Ok : MessageAnswer::Cancel;
}

bool QtUserSeam::OpenUrl(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}

}  // namespace sparkloom

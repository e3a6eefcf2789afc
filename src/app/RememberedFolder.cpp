#include "app/RememberedFolder.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>

namespace sparkloom {

namespace {

QString ApplicationName() {
    QString name;
    if (QCoreApplication::instance() != nullptr) {
        name = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    }
    return name.isEmpty() ? QStringLiteral("sparkloom") : name;
}

QSettings Store() {
    // One file per user: ~/.config/<program>.ini
    return QSettings(QSettings::IniFormat, QSettings::UserScope, ApplicationName());
}

}  // namespace

QString ReadRememberedFolder() {
    return Store().value(QStringLiteral("folders/lastfolder"), QString()).toString();
}

void WriteRememberedFolder(const QString& folder) {
    QSettings store = Store();
    store.setValue(QStringLiteral("folders/lastfolder"), folder);
    store.sync();
}

}  // namespace sparkloom

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

QString ReadRememberedSetting(const QString& name) {
    return Store().value(QStringLiteral("frames/") + name, QString()).toString();
}

void WriteRememberedSetting(const QString& name, const QString& value) {
    QSettings store = Store();
    store.setValue(QStringLiteral("frames/") + name, value);
    store.sync();
}

}  // namespace sparkloom

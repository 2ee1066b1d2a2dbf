#include "installedrecord.h"

#include "updateinidata.h"

#include <QSettings>

namespace {
const QString group = QStringLiteral("installed");
const QString serialPrefix = QStringLiteral("serial_");
}

InstalledRecord InstalledRecord::load()
{
    InstalledRecord record;
    QSettings settings(UpdateIniData::filename(), QSettings::IniFormat);
    settings.beginGroup(group);
    bool ok = false;
    const qint32 version = settings.value(QStringLiteral("version")).toString().toInt(&ok, 10);
    if (ok && version > 0)
        record.version = version;
    record.type = settings.value(QStringLiteral("type")).toString();
    record.ed25519Signed
        = settings.value(QStringLiteral("ed25519")).toString() == QStringLiteral("true");
    for (const QString& key : settings.childKeys()) {
        if (!key.startsWith(serialPrefix))
            continue;
        const qint64 serial = settings.value(key).toString().toLongLong(&ok, 10);
        if (ok && serial >= 0)
            record.serials.insert(key.mid(serialPrefix.size()), serial);
    }
    return record;
}

bool InstalledRecord::save() const
{
    QSettings settings(UpdateIniData::filename(), QSettings::IniFormat);
    settings.beginGroup(group);
    if (version > 0) {
        settings.setValue(QStringLiteral("version"), version);
        settings.setValue(QStringLiteral("type"), type);
    }
    if (ed25519Signed)
        settings.setValue(QStringLiteral("ed25519"), QStringLiteral("true"));
    for (auto serial = serials.cbegin(); serial != serials.cend(); ++serial)
        settings.setValue(serialPrefix + serial.key(), serial.value());
    settings.endGroup();
    settings.sync();
    return settings.status() == QSettings::NoError;
}

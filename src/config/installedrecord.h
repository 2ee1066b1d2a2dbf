#pragma once

#include <QMap>
#include <QString>

// What is installed, as far as trust goes: the group "installed" of update.ini. Written only
// after an update was committed, or from material that verified, so that it never records what
// an attacker claimed. Each protection it drives switches on the first time the record shows
// it and never off: the version a later target must not go below, that an install was signed
// with Ed25519 (an RSA-only ini is refused from then on), and the highest serial of a signed
// version list per key id (a replayed older list is refused). Older updaters ignore the group.
class InstalledRecord
{
public:
    // The record in update.ini in the installation root; empty when there is none or it is
    // unreadable. A value that is not a number reads as absent.
    static InstalledRecord load();
    // Writes the record back, leaving every other group as it is. False when the file could
    // not be written.
    bool save() const;

    // 0 while no version was recorded.
    qint32 version = 0;
    QString type;
    bool ed25519Signed = false;
    // Key id of the versions key -> highest serial seen.
    QMap<QString, qint64> serials;
};

#include "mirrors.h"

#include "configuration.h"
#include "escapedforlog.h"
#include "mirrorurl.h"
#include "randomgenerator.h"

#include <QSettings>

Mirrors::Mirrors(QObject* parent)
    : QObject(parent)
{
}

bool Mirrors::initDefault(const QString& iniPath, int version)
{
    QSettings settings(iniPath, QSettings::IniFormat);
    const int count = settings.beginReadArray(QStringLiteral("mirrors"));
    for (int i = 0; i < count; ++i) {
        settings.setArrayIndex(i);
        const QString name = settings.value(QStringLiteral("mirror")).toString().trimmed();
        if (name.isEmpty())
            continue;
        // A name is shown in the log and names a group of this file: one with a line break or
        // other hidden characters could forge log lines, so the record is not used.
        if (escapedForLog(name) != name) {
            emit message(tr("Mirror %1 has a name with control characters; not using it")
                             .arg(escapedForLog(name)));
            continue;
        }
        // Every look-up goes by name, so a second record of a name could never be chosen
        // apart from the first one; its settings are those of the same group anyway.
        if (getMirrorIndex(name) >= 0) {
            emit message(tr("Mirror %1 is listed more than once; using its first entry").arg(name));
            continue;
        }
        FTPSiteAccessData mirror;
        mirror.name = name;
        mirrorList.append(mirror);
    }
    settings.endArray();
    setDefaults(settings, version);
    return true;
}

bool Mirrors::initAlpha(const QString& iniPath, int version)
{
    QSettings settings(iniPath, QSettings::IniFormat);
    const QString url = Configuration::settingText(settings, QStringLiteral("Channel/alpha"));
    if (url.isEmpty()) {
        emit fatalError(
            QStringLiteral("Alpha parameter in channel section in update ini file not found"));
        return false;
    }
    FTPSiteAccessData mirror;
    mirror.name = QStringLiteral("Alpha Channel");
    mirror.url = MirrorUrl::versionUrl(url, QString::number(version));
    mirror.retries = 4;
    mirrorList.append(mirror);
    return true;
}

void Mirrors::setDefaults(QSettings& settings, int version)
{
    for (FTPSiteAccessData& mirror : mirrorList) {
        settings.beginGroup(mirror.name);
        mirror.url = MirrorUrl::versionUrl(
            Configuration::settingText(settings, QStringLiteral("url")), QString::number(version));
        // Read as unsigned and stored as signed: a word, a missing key, 0 and negative numbers
        // all end below 1 and fall back to the default tolerance.
        mirror.retries = qint32(settings.value(QStringLiteral("retries"), 2).toUInt());
        if (mirror.retries < 1)
            mirror.retries = 2;
        // A dead mirror is tried retries + 1 times per download; a large value would keep a
        // run hammering it instead of moving on.
        mirror.retries = qMin(mirror.retries, maxRetries);
        // Ticks a download may go without data on this mirror; what is not a positive number
        // keeps the default.
        const qint32 timeout = qint32(settings.value(QStringLiteral("timeout"), 0).toUInt());
        if (timeout >= 1)
            mirror.timeoutTicks = qMin(timeout, maxTimeoutTicks);
        settings.endGroup();
    }
}

int Mirrors::getRandomMirror(FTPSiteAccessData& out)
{
    if (mirrorList.isEmpty()) {
        if (!noMirrorsReported) {
            noMirrorsReported = true;
            emit message(tr("There are no (more) known working mirrors available"));
        }
        return NoMirrorLeft;
    }
    int capacity = 0;
    int inUse = 0;
    calcUseStats(capacity, inUse);
    if (inUse >= capacity)
        return AllMirrorsBusy;

    int r = RandomGenerator::next() % (capacity - inUse);
    for (FTPSiteAccessData& mirror : mirrorList) {
        r -= mirror.maxUses - mirror.useCount;
        if (r < 0) {
            ++mirror.useCount;
            out = mirror;
            return MirrorChosen;
        }
    }
    // Unreachable while the counters are consistent: r is below the summed free capacity.
    return AllMirrorsBusy;
}

int Mirrors::takeMirror(const QString& name, FTPSiteAccessData& out)
{
    const int index = getMirrorIndex(name);
    if (index < 0)
        return NoMirrorLeft;
    FTPSiteAccessData& mirror = mirrorList[index];
    if (mirror.useCount >= mirror.maxUses)
        return AllMirrorsBusy;
    ++mirror.useCount;
    out = mirror;
    return MirrorChosen;
}

void Mirrors::releaseMirror(const QString& name)
{
    const int index = getMirrorIndex(name);
    if (index >= 0)
        --mirrorList[index].useCount;
}

int Mirrors::addMirrorError(const QString& name)
{
    const int index = getMirrorIndex(name);
    if (index < 0)
        return -1;
    FTPSiteAccessData& mirror = mirrorList[index];
    ++mirror.errorCount;
    if (mirror.errorCount <= mirror.retries)
        return index;
    emit message(tr("Mirror %1 failed too many times, removing").arg(mirror.name));
    mirrorList.removeAt(index);
    lostOtherwise = true;
    return index;
}

int Mirrors::removeMirror(const QString& name)
{
    const int index = drop(name);
    if (index >= 0)
        lostOtherwise = true;
    return index;
}

void Mirrors::removeNotPublishing(const QString& name, const QString& remotePath)
{
    if (drop(name) >= 0 && notPublished.isEmpty())
        notPublished = remotePath;
}

void Mirrors::blameOversize(const QString& remotePath, const QString& reason)
{
    clearBlame(remotePath);
    blames.append({ remotePath, reason });
}

void Mirrors::clearBlame(const QString& remotePath)
{
    blames.removeIf(
        [&remotePath](const QPair<QString, QString>& blame) { return blame.first == remotePath; });
}

QString Mirrors::takeBlame()
{
    QString reason;
    if (!blames.isEmpty())
        reason = blames.first().second;
    else if (!notPublished.isEmpty() && !lostOtherwise)
        reason = QStringLiteral("No mirror has %1 of this version (each answered \"not found\"): "
                                "the version is not completely published yet.")
                     .arg(notPublished);
    blames.clear();
    notPublished.clear();
    return reason;
}

int Mirrors::drop(const QString& name)
{
    const int index = getMirrorIndex(name);
    if (index >= 0)
        mirrorList.removeAt(index);
    return index;
}

void Mirrors::blamePair(const QString& fileMirror, const QString& signatureMirror)
{
    if (fileMirror == signatureMirror)
        removeMirror(fileMirror);
}

int Mirrors::getMirrorIndex(const QString& name) const
{
    for (int i = 0; i < mirrorList.size(); ++i) {
        if (mirrorList.at(i).name == name)
            return i;
    }
    return -1;
}

void Mirrors::calcUseStats(int& capacity, int& inUse) const
{
    capacity = 0;
    inUse = 0;
    for (const FTPSiteAccessData& mirror : mirrorList) {
        capacity += mirror.maxUses;
        inUse += mirror.useCount;
    }
}

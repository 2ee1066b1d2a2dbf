#pragma once

#include "ftpsiteaccessdata.h"

#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QVector>

class QSettings;

// The mirror list of one update run, shared by pointer by all its download tasks (main thread
// only). It hands out one mirror per download, chosen at random with the free capacity as
// weight, counts uses and errors, and removes mirrors; it never adds one after loading.
// Look-ups go by name; the list file's second record of a name is skipped with a log line.
class Mirrors : public QObject
{
    Q_OBJECT
public:
    explicit Mirrors(QObject* parent);

    // The largest error tolerance a mirror list may give a mirror.
    static constexpr qint32 maxRetries = 10;
    // The longest silence time-out, in ticks, a mirror list may give a mirror.
    static constexpr qint32 maxTimeoutTicks = 300;

    QVector<FTPSiteAccessData> mirrorList;
    bool noMirrorsReported = false;

    // Reads the "mirrors" array of a mirrors.ini; always true, even for an empty list. Emits
    // message for every name listed again.
    bool initDefault(const QString& iniPath, int version);
    // The single mirror of the alpha channel from update.ini; false (after fatalError) when
    // its URL is missing.
    bool initAlpha(const QString& iniPath, int version);
    void setDefaults(QSettings& settings, int version);

    enum ChoiceResult { MirrorChosen = 0, NoMirrorLeft = 1, AllMirrorsBusy = 2 };
    // On MirrorChosen, out is a copy of the chosen record that already counts the new use.
    int getRandomMirror(FTPSiteAccessData& out);
    // The named mirror for one download, as getRandomMirror would hand it out; NoMirrorLeft when
    // that mirror is no longer listed.
    int takeMirror(const QString& name, FTPSiteAccessData& out);
    void releaseMirror(const QString& name);
    // Removes the mirror on the error that exceeds its tolerance. Returns the mirror's index
    // before the call, or -1 for an unknown name.
    int addMirrorError(const QString& name);
    // Removes the mirror silently; returns its former index, or -1.
    int removeMirror(const QString& name);
    // Removes a mirror that answered "not found" for remotePath, a file it must have.
    void removeNotPublishing(const QString& name, const QString& remotePath);
    // A mirror sent more of remotePath than the file may hold: the file, not the network, is
    // to blame when the run runs out of mirrors, until it arrives whole after all (clearBlame).
    void blameOversize(const QString& remotePath, const QString& reason);
    void clearBlame(const QString& remotePath);
    // Why the run ran out of mirrors when a file, not the network, is to blame: the first
    // oversize still standing, else the first file mirrors were removed for lacking while none
    // went for anything else (every mirror refused it). Given once, to whichever download finds
    // no mirror left first: that need not be the download the reason is about. Empty when the
    // network is to blame.
    QString takeBlame();
    // After a file and its signature failed their check: removes the mirror when it served
    // both. A pair from two mirrors blames neither, as either half may be the bad one; the
    // caller fetches the pair again, from one mirror.
    void blamePair(const QString& fileMirror, const QString& signatureMirror);
    int getMirrorIndex(const QString& name) const;
    void calcUseStats(int& capacity, int& inUse) const;

signals:
    void message(QString message);
    void fatalError(QString errorMessage);

private:
    int drop(const QString& name);

    QString notPublished;
    bool lostOtherwise = false;
    // In the order they were found: the remote path, and why it is to blame.
    QList<QPair<QString, QString>> blames;
};

#pragma once

#include "deltalist.h"

#include <QList>
#include <QPair>
#include <QSet>
#include <QString>
#include <QStringList>

class ReleaseSigner;

// Turns the files of one client version into the directory a mirror serves for it:
// outputDir/<version>/ with the signed product ini <clientType>.ini (+ .sig, and + .sig2 when
// Ed25519 keys are given), every file under <section>/<key>, gzip-packed files as
// <install path>.gz, changelog_client.txt when given, and the file list <clientType>.ini.sha256
// whose SHA-256 the ini names. With deltas and a previous tree, a file of the main section that
// changed little also gets a zstd delta from its previous version (deltas/<section>/<key>.zst),
// listed in <clientType>.ini.deltas, whose SHA-256 the ini names too; packed and
// signature-checked files get none, as the updater checks a delta's result by its MD5.
// Everything is written into a hidden staging directory beside the result and renamed into
// place at the end, so a failed or interrupted run leaves no version directory behind. An
// existing version directory is never touched.
class ReleasePublisher
{
public:
    struct Options
    {
        QString privateKeyFile;
        QStringList ed25519KeyFiles; // private keys whose lines go to the ini's .sig2
        QString inputDir; // the installation root of the new version
        qint32 version = -1;
        QString outputDir; // the mirror's root; the version directory goes below it
        QString clientType = QStringLiteral("client_macosx");
        QString section = QStringLiteral("files");
        QString binDir; // files installed one level above the root: section "bin_macosx"
        QStringList packPatterns; // files matching are served gzip-packed
        QStringList signedPatterns; // files matching are checked by signature, not MD5
        QString previousDir; // the previous version's root: its files absent now are deleted
        QStringList deletePaths; // install-relative paths to delete
        QString changelogFile;
        bool deltas = false; // deltas from the previous tree's files
    };

    explicit ReleasePublisher(Options options);

    // False with errorString on failure; nothing is left in outputDir then.
    bool publish();
    QString errorString() const { return error; }
    // outputDir/<version>
    QString versionDir() const;
    int fileCount() const { return int(entries.size()); }
    int deltaCount() const { return int(deltaEntries.size()); }

private:
    struct Entry
    {
        QString section;
        QString key;
        QString value;
        QString installPath; // relative to the installation root, or to its parent for bin_macosx
    };

    bool fail(const QString& message);
    bool checkOptions();
    bool listTree(const QString& root, QStringList& files);
    bool publishTree(const QString& root, const QString& section, ReleaseSigner& signer);
    bool publishFile(const QString& source, const QString& section, const QString& installPath,
        ReleaseSigner& signer);
    bool writeDelta(const QString& source, const QString& section, const QString& key);
    bool claimStagedName(const QString& key);
    bool collectDeletes();
    bool writeFileList(QByteArray& fileListSha256);
    bool writeDeltaList(QByteArray& deltaListSha256);
    bool writeIni(const QByteArray& fileListSha256, const QByteArray& deltaListSha256);
    bool iniReadsBack(const QString& path, const QByteArray& fileListSha256,
        const QByteArray& deltaListSha256);

    Options options;
    QString error;
    QString stageDir;
    QList<Entry> entries;
    // Lower-case names of files and directories the updater will hold in its session directory.
    QSet<QString> stagedFiles;
    QSet<QString> stagedDirs;
    QStringList deletes;
    QList<QPair<QString, DeltaList::Delta>> deltaEntries; // by "<section>/<key>"
};

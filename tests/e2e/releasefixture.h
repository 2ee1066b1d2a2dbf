#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

// Releases as a vendor makes them and installations as the installer lays them out, for the
// whole-program tests: release trees (files/ and bin/MacOS/) published by the release tool, and
// what an installation holds, compared file by file with content and mode.
//
//     QVERIFY(publish(work, "3013", "3012", { "libcore.dylib" }, &expected));
//     QVERIFY2(snapshot(app, skipped) == expected, qPrintable(describe(snapshot(app, skipped),
//         expected)));

struct Entry
{
    QByteArray md5;
    uint mode;
    bool operator==(const Entry& other) const { return md5 == other.md5 && mode == other.mode; }
};
// Install-relative path below the bundle -> content and mode.
using Snapshot = QMap<QString, Entry>;

// Every file below dir except those whose relative path starts with one of skipped.
Snapshot snapshot(const QString& dir, const QStringList& skipped);
// The files missing, differing and extra in actual, on one line; empty when they agree.
QString describe(const Snapshot& actual, const Snapshot& expected);
// Runs a shell script with arguments as $1, $2, ...; true when it exited with 0 in time.
bool runShell(const QString& script, const QStringList& arguments);
// Installs a release tree (files/ and bin/MacOS/) into a bundle the way the installer would.
bool layOut(const QString& release, const QString& bundle);
// Publishes work/release/<version> into work/mirror, packing the files named in packed, with
// work/release/<previous> as the version installed before (its files missing from version are
// deleted by the update); fills expected with the installation the update makes.
bool publish(const QString& work, const QString& version, const QString& previous,
    const QStringList& packed, Snapshot* expected);
// Writes root/mirrors.ini naming the URLs as mirror0, mirror1, ... in this order, the i-th
// with the silence time-out timeoutTicks[i] (missing or 0: the default).
void writeMirrorList(
    const QString& root, const QStringList& urls, const QList<int>& timeoutTicks = {});

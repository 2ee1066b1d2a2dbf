#include "releasefixture.h"


#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QSettings>

#include <sys/stat.h>

Snapshot snapshot(const QString& dir, const QStringList& skipped)
{
    Snapshot files;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = QDir(dir).relativeFilePath(path);
        bool skip = false;
        for (const QString& prefix : skipped)
            skip = skip || relative.startsWith(prefix);
        if (skip)
            continue;
        QFile file(path);
        QCryptographicHash md5(QCryptographicHash::Md5);
        if (file.open(QIODevice::ReadOnly))
            md5.addData(&file);
        struct stat st;
        ::lstat(QFile::encodeName(path).constData(), &st);
        files.insert(relative, { md5.result().toHex(), uint(st.st_mode & 07777) });
    }
    return files;
}

QString describe(const Snapshot& actual, const Snapshot& expected)
{
    QStringList lines;
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        if (!actual.contains(it.key()))
            lines << QStringLiteral("missing ") + it.key();
        else if (!(actual.value(it.key()) == it.value()))
            lines << QStringLiteral("differs ") + it.key()
                    + QStringLiteral(" (mode %1, expected %2)")
                          .arg(actual.value(it.key()).mode, 0, 8)
                          .arg(it.value().mode, 0, 8);
    }
    for (auto it = actual.cbegin(); it != actual.cend(); ++it) {
        if (!expected.contains(it.key()))
            lines << QStringLiteral("extra ") + it.key();
    }
    return lines.join(QStringLiteral("; "));
}

bool runShell(const QString& script, const QStringList& arguments)
{
    QProcess shell;
    shell.start(QStringLiteral("sh"),
        QStringList { QStringLiteral("-c"), script, QStringLiteral("sh") } + arguments);
    return shell.waitForFinished(30000) && shell.exitStatus() == QProcess::NormalExit
        && shell.exitCode() == 0;
}

bool layOut(const QString& release, const QString& bundle)
{
    return runShell(QStringLiteral("mkdir -p \"$2/Contents/Resources\" \"$2/Contents/MacOS\" && "
                                   "cp -a \"$1/files/.\" \"$2/Contents/Resources/\" && "
                                   "cp -a \"$1/bin/MacOS/.\" \"$2/Contents/MacOS/\""),
        { release, bundle });
}

bool publish(const QString& work, const QString& version, const QString& previous,
    const QStringList& packed, Snapshot* expected)
{
    const QString release = work + QStringLiteral("/release/");
    QProcess tool;
    QStringList arguments { QStringLiteral("publish"), QStringLiteral("--key"),
        QStringLiteral(CRV_TEST_PRIVATE_KEY_FILE), QStringLiteral("--input"),
        release + version + QStringLiteral("/files"), QStringLiteral("--bin-dir"),
        release + version + QStringLiteral("/bin"), QStringLiteral("--previous"),
        release + previous + QStringLiteral("/files"), QStringLiteral("--version"), version,
        QStringLiteral("--output"), work + QStringLiteral("/mirror") };
    for (const QString& name : packed)
        arguments << QStringLiteral("--pack") << name;
    arguments << QStringLiteral("--ed25519-key")
              << QStringLiteral(CRV_SOURCE_DIR "/keys/demo-ed25519-release-private.pem");
    tool.start(QStringLiteral(CRV_RELEASE_TOOL), arguments);
    if (!tool.waitForFinished(60000) || tool.exitCode() != 0) {
        qWarning("crv-release: %s", tool.readAllStandardError().constData());
        return false;
    }
    // What the installation must be afterwards: the trees of the version with their modes.
    const QString tree = work + QStringLiteral("/expected-") + version;
    if (!layOut(release + version, tree))
        return false;
    *expected = snapshot(tree, {});
    return true;
}

void writeMirrorList(const QString& root, const QStringList& urls, const QList<int>& timeoutTicks)
{
    QFile::remove(root + QStringLiteral("/mirrors.ini"));
    QSettings settings(root + QStringLiteral("/mirrors.ini"), QSettings::IniFormat);
    settings.beginWriteArray(QStringLiteral("mirrors"));
    for (int i = 0; i < urls.size(); ++i) {
        settings.setArrayIndex(i);
        settings.setValue(QStringLiteral("mirror"), QStringLiteral("mirror%1").arg(i));
    }
    settings.endArray();
    for (int i = 0; i < urls.size(); ++i) {
        settings.setValue(QStringLiteral("mirror%1/url").arg(i), urls.at(i));
        if (timeoutTicks.value(i) > 0)
            settings.setValue(QStringLiteral("mirror%1/timeout").arg(i), timeoutTicks.value(i));
    }
}

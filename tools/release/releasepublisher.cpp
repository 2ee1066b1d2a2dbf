#include "releasepublisher.h"

#include "cryptexception.h"
#include "deltawriter.h"
#include "ed25519signer.h"
#include "filedigest.h"
#include "releasefilewriter.h"
#include "releasesigner.h"
#include "sha256sums.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>

#include <algorithm>
#include <utility>

namespace {

const QString binSection = QStringLiteral("bin_macosx");
const QString deleteSection = QStringLiteral("delete");

// A pattern without "/" matches the file name anywhere in the tree, one with "/" the whole
// install-relative path; "*" never crosses a "/".
bool matchesAny(const QStringList& patterns, const QString& relativePath)
{
    const QString name = relativePath.section(QLatin1Char('/'), -1);
    for (const QString& pattern : patterns) {
        const QRegularExpression re = QRegularExpression::fromWildcard(pattern);
        if (re.match(pattern.contains(QLatin1Char('/')) ? relativePath : name).hasMatch())
            return true;
    }
    return false;
}

// Install-relative paths the updater can take as they are: relative, "/"-separated, no "." or
// ".." parts except one leading "../" for files above the installation root.
bool isCleanRelativePath(const QString& path)
{
    if (path.isEmpty() || path.startsWith(QLatin1Char('/')) || path.contains(QLatin1Char('\\')))
        return false;
    const QStringList parts = path.split(QLatin1Char('/'));
    for (int i = 0; i < parts.size(); ++i) {
        const QString& part = parts.at(i);
        if (part.isEmpty() || part == QLatin1String("."))
            return false;
        if (part == QLatin1String("..") && (i != 0 || parts.size() == 1))
            return false;
    }
    return true;
}

bool isValidSectionName(const QString& name)
{
    // "General" is where QSettings puts top-level keys, which the updater ignores.
    static const QRegularExpression allowed(QStringLiteral("^[A-Za-z0-9_.-]+$"));
    return allowed.match(name).hasMatch()
        && name.compare(QLatin1String("General"), Qt::CaseInsensitive) != 0;
}

} // namespace

ReleasePublisher::ReleasePublisher(Options options)
    : options(std::move(options))
{
}

QString ReleasePublisher::versionDir() const
{
    return QDir(options.outputDir).filePath(QString::number(options.version));
}

bool ReleasePublisher::fail(const QString& message)
{
    error = message;
    return false;
}

bool ReleasePublisher::checkOptions()
{
    if (options.version < 0)
        return fail(QStringLiteral("the version must be a number from 0 to 2147483647"));
    if (!isValidSectionName(options.clientType))
        return fail(QStringLiteral("invalid client type \"%1\"").arg(options.clientType));
    if (!isValidSectionName(options.section) || options.section == deleteSection
        || options.section == binSection)
        return fail(QStringLiteral("invalid section name \"%1\"").arg(options.section));
    const QStringList dirs = { options.inputDir, options.binDir, options.previousDir };
    for (const QString& dir : dirs) {
        if (!dir.isEmpty() && !QFileInfo(dir).isDir())
            return fail(QStringLiteral("%1 is not a directory").arg(dir));
    }
    if (options.inputDir.isEmpty())
        return fail(QStringLiteral("no input directory given"));
    if (!options.changelogFile.isEmpty() && !QFileInfo(options.changelogFile).isFile())
        return fail(QStringLiteral("changelog %1 is not a file").arg(options.changelogFile));
    for (const QString& path : std::as_const(options.deletePaths)) {
        if (!isCleanRelativePath(path))
            return fail(QStringLiteral("invalid path to delete \"%1\"").arg(path));
    }
    if (options.outputDir.isEmpty())
        return fail(QStringLiteral("no output directory given"));
    if (options.deltas && options.previousDir.isEmpty())
        return fail(QStringLiteral("deltas need the previous version's tree"));
    // The deltas folder lies beside the section folders.
    if (options.deltas && options.section == QLatin1String("deltas"))
        return fail(QStringLiteral("the section cannot be named \"deltas\" when deltas are "
                                   "published"));
    // The staging directory would otherwise be published into itself.
    const QString output = QDir::cleanPath(QFileInfo(options.outputDir).absoluteFilePath());
    for (const QString& tree : { options.inputDir, options.binDir }) {
        const QString root = QDir::cleanPath(QFileInfo(tree).absoluteFilePath());
        if (!tree.isEmpty() && (output == root || output.startsWith(root + QLatin1Char('/'))))
            return fail(QStringLiteral("the output directory %1 lies inside %2")
                            .arg(options.outputDir, tree));
    }
    if (QFileInfo::exists(versionDir()))
        return fail(
            QStringLiteral("%1 already exists; refusing to publish over it").arg(versionDir()));
    return true;
}

bool ReleasePublisher::publish()
{
    if (!checkOptions())
        return false;
    ReleaseSigner signer;
    if (!signer.loadKey(options.privateKeyFile))
        return fail(signer.errorString());
    Ed25519Signer ed25519Signer;
    if (!ed25519Signer.loadKeys(options.ed25519KeyFiles))
        return fail(ed25519Signer.errorString());
    if (!QDir().mkpath(options.outputDir))
        return fail(QStringLiteral("cannot create %1").arg(options.outputDir));

    QTemporaryDir stage(
        QDir(options.outputDir).filePath(QStringLiteral(".%1-XXXXXX").arg(options.version)));
    if (!stage.isValid())
        return fail(QStringLiteral("cannot create a staging directory in %1: %2")
                        .arg(options.outputDir, stage.errorString()));
    stageDir = stage.path();

    const QString iniName = options.clientType + QStringLiteral(".ini");
    claimStagedName(iniName);
    claimStagedName(iniName + QStringLiteral(".sig"));
    // Claimed even when unsigned: updaters always look for it beside the ini.
    claimStagedName(iniName + QStringLiteral(".sig2"));
    if (!publishTree(options.inputDir, options.section, signer))
        return false;
    if (!options.binDir.isEmpty() && !publishTree(options.binDir, binSection, signer))
        return false;
    if (!collectDeletes())
        return false;
    if (!options.changelogFile.isEmpty()) {
        const QString changelog = QDir(stageDir).filePath(QStringLiteral("changelog_client.txt"));
        QByteArray md5;
        ReleaseFileWriter writer;
        if (!writer.copy(options.changelogFile, changelog, md5))
            return fail(writer.errorString());
    }
    // The file list must hold every other published file, and the ini its digest, before the
    // ini is signed.
    // The delta list is published beside the files, so the file list names it too.
    QByteArray deltaListSha256;
    QByteArray fileListSha256;
    if (!writeDeltaList(deltaListSha256) || !writeFileList(fileListSha256)
        || !writeIni(fileListSha256, deltaListSha256))
        return false;
    if (!signer.signFile(QDir(stageDir).filePath(iniName)))
        return fail(signer.errorString());
    if (!ed25519Signer.isEmpty() && !ed25519Signer.signFile(QDir(stageDir).filePath(iniName)))
        return fail(ed25519Signer.errorString());

    // QTemporaryDir makes its directory private; the mirror's web server must read it.
    QFile::setPermissions(stageDir,
        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup
            | QFile::ReadOther | QFile::ExeOther);
    // Qt renames without replacing, so a version directory made meanwhile is not overwritten.
    if (!QDir().rename(stageDir, versionDir()))
        return fail(
            QStringLiteral("cannot move the new version into place at %1").arg(versionDir()));
    stage.setAutoRemove(false);
    return true;
}

bool ReleasePublisher::listTree(const QString& root, QStringList& files)
{
    const QDir rootDir(QFileInfo(root).absoluteFilePath());
    QDirIterator it(rootDir.path(),
        QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
        QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        // The product ini lists regular files only; a link published as a copy would change
        // the installation, so it is refused rather than silently flattened.
        if (info.isSymLink())
            return fail(QStringLiteral("%1 is a symbolic link; only regular files can be "
                                       "published")
                            .arg(info.filePath()));
        if (info.isDir())
            continue;
        if (!info.isFile())
            return fail(QStringLiteral("%1 is not a regular file").arg(info.filePath()));
        files.append(rootDir.relativeFilePath(info.absoluteFilePath()));
    }
    std::sort(files.begin(), files.end());
    return true;
}

bool ReleasePublisher::publishTree(
    const QString& root, const QString& section, ReleaseSigner& signer)
{
    QStringList files;
    if (!listTree(root, files))
        return false;
    for (const QString& relative : std::as_const(files)) {
        if (!publishFile(QDir(root).filePath(relative), section, relative, signer))
            return false;
    }
    return true;
}

bool ReleasePublisher::publishFile(const QString& source, const QString& section,
    const QString& installPath, ReleaseSigner& signer)
{
    const bool packed = matchesAny(options.packPatterns, installPath);
    const bool signedOnly = matchesAny(options.signedPatterns, installPath);
    if (packed && signedOnly)
        return fail(
            QStringLiteral("%1 matches both a pack and a signed-files pattern").arg(installPath));
    const QString key = packed ? installPath + QStringLiteral(".gz") : installPath;
    if (!claimStagedName(key))
        return false;

    const QString dest = QDir(stageDir).filePath(section + QLatin1Char('/') + key);
    if (!QDir().mkpath(QFileInfo(dest).path()))
        return fail(QStringLiteral("cannot create directory for %1").arg(dest));
    ReleaseFileWriter writer;
    QByteArray sourceMd5;
    if (!(packed ? writer.pack(source, dest, sourceMd5) : writer.copy(source, dest, sourceMd5)))
        return fail(writer.errorString());
    const QString destSize = QString::number(QFileInfo(dest).size());

    if (packed) {
        QByteArray packedMd5;
        if (FileDigest::md5(dest, packedMd5) != FileBlockReader::Ok)
            return fail(QStringLiteral("cannot read back %1").arg(dest));
        const QString value = QStringList { QString::fromLatin1(packedMd5), destSize,
            QString::fromLatin1(sourceMd5), QString::number(QFileInfo(source).size()), installPath }
                                  .join(QStringLiteral("::"));
        entries.append({ section, key, value, installPath });
        return true;
    }
    if (!signedOnly) {
        entries.append({ section, key,
            QString::fromLatin1(sourceMd5) + QStringLiteral("::") + destSize, key });
        return !options.deltas || section != options.section || writeDelta(dest, section, key);
    }
    // Checked by its signature: the .sig is served beside the file, and listed as a file of
    // its own so that it is installed beside the file, where the next update's check finds it.
    if (!signer.signFile(dest))
        return fail(signer.errorString());
    const QString sigKey = key + QStringLiteral(".sig");
    if (!claimStagedName(sigKey))
        return false;
    QByteArray sigMd5;
    const QString sigPath = dest + QStringLiteral(".sig");
    if (FileDigest::md5(sigPath, sigMd5) != FileBlockReader::Ok)
        return fail(QStringLiteral("cannot read back %1").arg(sigPath));
    entries.append({ section, key, QStringLiteral("::") + destSize, key });
    entries.append({ section, sigKey,
        QString::fromLatin1(sigMd5) + QStringLiteral("::")
            + QString::number(QFileInfo(sigPath).size()),
        sigKey });
    return true;
}

// The previous version's file at the same place is the base; a file that is new, unchanged, or
// not worth a delta gets none.
bool ReleasePublisher::writeDelta(const QString& source, const QString& section, const QString& key)
{
    const QFileInfo base(QDir(options.previousDir).filePath(key));
    if (!base.isFile() || base.isSymLink())
        return true;
    const QString path = section + QLatin1Char('/') + key;
    const QString dest = QDir(stageDir).filePath(DeltaList::remotePath(path));
    QByteArray baseSha256;
    QByteArray resultSha256;
    if (FileDigest::sha256(base.filePath(), baseSha256) != FileBlockReader::Ok)
        return fail(QStringLiteral("cannot read %1").arg(base.filePath()));
    if (FileDigest::sha256(source, resultSha256) != FileBlockReader::Ok)
        return fail(QStringLiteral("cannot read back %1").arg(source));
    if (baseSha256 == resultSha256)
        return true;
    const QString folder = QFileInfo(dest).path();
    if (!QDir().mkpath(folder))
        return fail(QStringLiteral("cannot create directory for %1").arg(dest));
    DeltaWriter writer;
    bool written = false;
    if (!writer.write(base.filePath(), source, dest, written))
        return fail(writer.errorString());
    if (!written) {
        // Folders of deltas that were not worth it would be published empty.
        QDir().rmpath(folder);
        return true;
    }
    DeltaList::Delta delta;
    QByteArray deltaSha256;
    if (FileDigest::sha256(dest, deltaSha256) != FileBlockReader::Ok)
        return fail(QStringLiteral("cannot read back %1").arg(dest));
    delta.baseSha256 = QString::fromLatin1(baseSha256);
    delta.size = QFileInfo(dest).size();
    delta.sha256 = QString::fromLatin1(deltaSha256);
    delta.resultSha256 = QString::fromLatin1(resultSha256);
    deltaEntries.append({ path, delta });
    return true;
}

// No list, and no key in the ini, when no file got a delta.
bool ReleasePublisher::writeDeltaList(QByteArray& deltaListSha256)
{
    deltaListSha256.clear();
    if (deltaEntries.isEmpty())
        return true;
    QByteArray list = DeltaList::header();
    for (const auto& entry : std::as_const(deltaEntries)) {
        if (entry.first.contains(QLatin1Char('\n')) || entry.first.contains(QLatin1Char('\r')))
            return fail(
                QStringLiteral("the file name %1 cannot be stored in the delta list").arg(entry.first));
        list += DeltaList::line(entry.first, entry.second);
    }
    try {
        deltaListSha256 = FileDigest::sha256(list);
    } catch (const crypt_exception& e) {
        return fail(QString::fromUtf8(e.what()));
    }
    const QString listPath = QDir(stageDir).filePath(
        options.clientType + QStringLiteral(".ini") + QLatin1String(DeltaList::suffix));
    QFile file(listPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(list) != list.size() || !file.flush())
        return fail(QStringLiteral("cannot write %1").arg(listPath));
    return true;
}

// The updater keeps every downloaded file at <session directory>/<key>, whatever its section,
// next to the product ini: two files with one name, or a file where another needs a
// directory, would overwrite each other there.
bool ReleasePublisher::claimStagedName(const QString& key)
{
    const QString lower = key.toLower(); // macOS file systems ignore case
    const QStringList parts = lower.split(QLatin1Char('/'));
    bool clash = stagedFiles.contains(lower) || stagedDirs.contains(lower);
    for (int i = 1; i < parts.size() && !clash; ++i)
        clash = stagedFiles.contains(parts.mid(0, i).join(QLatin1Char('/')));
    if (clash)
        return fail(
            QStringLiteral("%1 would be downloaded to the same place as another file").arg(key));
    stagedFiles.insert(lower);
    for (int i = 1; i < parts.size(); ++i)
        stagedDirs.insert(parts.mid(0, i).join(QLatin1Char('/')));
    return true;
}

bool ReleasePublisher::collectDeletes()
{
    QSet<QString> installed;
    for (const Entry& entry : std::as_const(entries))
        installed.insert(entry.section == binSection ? QStringLiteral("../") + entry.installPath
                                                     : entry.installPath);
    QSet<QString> paths(options.deletePaths.cbegin(), options.deletePaths.cend());
    if (!options.previousDir.isEmpty()) {
        const QDir rootDir(QFileInfo(options.previousDir).absoluteFilePath());
        QDirIterator it(rootDir.path(),
            QDir::Files | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
            QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString relative = rootDir.relativeFilePath(it.next());
            if (!installed.contains(relative))
                paths.insert(relative);
        }
    }
    // Deletion runs after the new files are in place: deleting one of them would break the
    // installation it just completed.
    for (const QString& path : std::as_const(paths)) {
        if (installed.contains(path))
            return fail(QStringLiteral("%1 is both published and listed for deletion").arg(path));
    }
    deletes = QStringList(paths.cbegin(), paths.cend());
    std::sort(deletes.begin(), deletes.end());
    return true;
}

// The SHA-256 of every published file beside the ini, in sha256sum's format and sorted by
// path, so that "sha256sum -c" checks a mirror's copy as well as the updater does. The ini and
// its signatures are left out: they are checked by the signatures, which cover the list.
bool ReleasePublisher::writeFileList(QByteArray& fileListSha256)
{
    const QString iniName = options.clientType + QStringLiteral(".ini");
    const QSet<QString> excluded = { iniName, iniName + QStringLiteral(".sig"),
        iniName + QStringLiteral(".sig2"), iniName + QLatin1String(Sha256Sums::suffix) };
    const QDir stage(stageDir);
    QStringList paths;
    QDirIterator it(
        stageDir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString relative = stage.relativeFilePath(it.next());
        if (!excluded.contains(relative))
            paths.append(relative);
    }
    std::sort(paths.begin(), paths.end());
    QByteArray list;
    try {
        for (const QString& path : std::as_const(paths)) {
            // sha256sum would escape such a name; the updater could not store the file anyway.
            if (path.contains(QLatin1Char('\\')) || path.contains(QLatin1Char('\n'))
                || path.contains(QLatin1Char('\r')))
                return fail(
                    QStringLiteral("the file name %1 cannot be stored in the file list").arg(path));
            QByteArray sha256;
            if (FileDigest::sha256(stage.filePath(path), sha256) != FileBlockReader::Ok)
                return fail(QStringLiteral("cannot read back %1").arg(stage.filePath(path)));
            list += sha256 + "  " + path.toUtf8() + '\n';
        }
        fileListSha256 = FileDigest::sha256(list);
    } catch (const crypt_exception& e) {
        return fail(QString::fromUtf8(e.what()));
    }
    const QString listPath = stage.filePath(iniName + QLatin1String(Sha256Sums::suffix));
    QFile file(listPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(list) != list.size() || !file.flush())
        return fail(QStringLiteral("cannot write %1").arg(listPath));
    return true;
}

bool ReleasePublisher::writeIni(
    const QByteArray& fileListSha256, const QByteArray& deltaListSha256)
{
    const QString path = QDir(stageDir).filePath(options.clientType + QStringLiteral(".ini"));
    {
        // QSettings writes a key with "/" as a nested key, which reads back through allKeys()
        // as the same "/"-joined path: exactly how the updater reads the file.
        QSettings ini(path, QSettings::IniFormat);
        for (const Entry& entry : std::as_const(entries))
            ini.setValue(entry.section + QLatin1Char('/') + entry.key, entry.value);
        for (const QString& path : std::as_const(deletes))
            ini.setValue(deleteSection + QLatin1Char('/') + path, QString());
        ini.sync();
        if (ini.status() != QSettings::NoError)
            return fail(QStringLiteral("cannot write %1").arg(path));
    }
    // The signature covers the ini's bytes only; naming the version and the client type inside
    // them lets the updater refuse the signed ini of another version served in this one's
    // place. They go before the first section, where the plan never looks (QSettings would
    // write them under [General]).
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return fail(QStringLiteral("cannot write %1").arg(path));
    const QByteArray sections = file.readAll();
    QByteArray identity = "version=" + QByteArray::number(options.version) + "\ntype="
        + options.clientType.toUtf8() + "\n" + Sha256Sums::iniKey + "=" + fileListSha256 + "\n";
    if (!deltaListSha256.isEmpty())
        identity += QByteArray(DeltaList::iniKey) + "=" + deltaListSha256 + "\n";
    if (!file.seek(0) || file.write(identity + sections) != identity.size() + sections.size()
        || !file.flush())
        return fail(QStringLiteral("cannot write %1").arg(path));
    file.close();
    return iniReadsBack(path, fileListSha256, deltaListSha256);
}

// Some file names do not survive the INI format (a backslash reads back as "/"); such a file
// would be installed under another name, so the release is refused instead.
bool ReleasePublisher::iniReadsBack(
    const QString& path, const QByteArray& fileListSha256, const QByteArray& deltaListSha256)
{
    QSettings ini(path, QSettings::IniFormat);
    int expected = int(entries.size() + deletes.size());
    int found = 0;
    for (const QString& group : ini.childGroups()) {
        ini.beginGroup(group);
        found += int(ini.allKeys().size());
        ini.endGroup();
    }
    for (const Entry& entry : std::as_const(entries)) {
        if (ini.value(entry.section + QLatin1Char('/') + entry.key).toString() != entry.value)
            return fail(QStringLiteral("the file name %1 cannot be stored in the product ini")
                            .arg(entry.key));
    }
    if (ini.value(QStringLiteral("version")).toString() != QString::number(options.version)
        || ini.value(QStringLiteral("type")).toString() != options.clientType
        || Sha256Sums::digestInIni(path) != QString::fromLatin1(fileListSha256)
        || DeltaList::digestInIni(path) != QString::fromLatin1(deltaListSha256))
        return fail(QStringLiteral("the product ini does not read back its version, type and "
                                   "file list digest"));
    if (found != expected)
        return fail(QStringLiteral("the product ini does not read back as written; check the "
                                   "file names for backslashes"));
    return true;
}

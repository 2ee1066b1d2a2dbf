// crv-release: the release engineer's tool. Creates key pairs, signs and verifies files, and
// publishes a client version as the directory a mirror serves.

#include "ed25519verifier.h"
#include "keypairgenerator.h"
#include "releasepublisher.h"
#include "releasesigner.h"
#include "releaseverifier.h"
#include "versionlistsigner.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QTextStream>

#include <cstdio>

namespace {

const char* const overview = R"(Commands:
  keygen DIR                   create a new key pair DIR/private.key and DIR/public.key
  keygen --ed25519 DIR         create DIR/ed25519-private.pem and DIR/ed25519-public.pem
  sign --key PRIVATE FILE...   write FILE.sig beside each FILE
  verify --key PUBLIC FILE...  check FILE.sig of each FILE; exit status 0 only if all verify
  verify-ed25519 --key PUBLIC.pem FILE...
                               check FILE.sig2 of each FILE; exit status 0 only if all verify
  publish --key PRIVATE --input TREE --version N --output MIRRORDIR [options]
                               write MIRRORDIR/N/ with the signed product ini and every file
  versions --key PRIVATE.pem --list 'V#NAME,V#NAME,V' [--valid-days D] [--serial N]
                               print the signed version list the update server sends

Run "crv-release COMMAND --help" for the options of a command.)";

QTextStream& out()
{
    static QTextStream stream(stdout);
    return stream;
}

QTextStream& err()
{
    static QTextStream stream(stderr);
    return stream;
}

int fail(const QString& message)
{
    err() << "crv-release: " << message << Qt::endl;
    return 1;
}

// Parses the arguments after the command; exits with the help text on --help.
void parse(QCommandLineParser& parser, const QString& command, const QStringList& arguments,
    const QString& description)
{
    parser.setApplicationDescription(description);
    parser.addHelpOption();
    QStringList args = arguments;
    args[0] = args.at(0) + QLatin1Char(' ') + command;
    args.removeAt(1);
    parser.process(args);
}

QCommandLineOption keyOption(const QString& what)
{
    return QCommandLineOption(QStringLiteral("key"), what, QStringLiteral("KEYFILE"));
}

int keygen(const QStringList& arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption ed25519(QStringLiteral("ed25519"),
        QStringLiteral("Create an Ed25519 pair ed25519-private.pem and ed25519-public.pem "
                       "instead; run once per role (release, versions)."));
    parser.addOption(ed25519);
    parser.addPositionalArgument(
        QStringLiteral("DIR"), QStringLiteral("Directory for private.key and public.key."));
    parse(parser, QStringLiteral("keygen"), arguments,
        QStringLiteral("Creates a new 1024-bit RSA key pair as two 2048-byte key files. Keep "
                       "private.key secret; build the updater with "
                       "-DCRV_PUBLIC_KEY_FILE=DIR/public.key. With --ed25519, an Ed25519 pair "
                       "as PEM files for -DCRV_ED25519_RELEASE_KEYS or "
                       "-DCRV_ED25519_VERSIONS_KEYS. Existing keys are never overwritten."));
    if (parser.positionalArguments().size() != 1)
        return fail(QStringLiteral("keygen needs exactly one directory"));
    const QString dir = parser.positionalArguments().constFirst();
    KeyPairGenerator generator;
    if (parser.isSet(ed25519)) {
        QString keyId;
        if (!generator.generateEd25519(dir, keyId))
            return fail(generator.errorString());
        out() << "created " << dir << '/' << KeyPairGenerator::ed25519PrivateKeyName() << " and "
              << dir << '/' << KeyPairGenerator::ed25519PublicKeyName() << ", key id " << keyId
              << Qt::endl;
        return 0;
    }
    if (!generator.generate(dir))
        return fail(generator.errorString());
    out() << "created " << dir << '/' << KeyPairGenerator::privateKeyName() << " and " << dir << '/'
          << KeyPairGenerator::publicKeyName() << Qt::endl;
    return 0;
}

// The key file and the files of "sign" and "verify", which take the same arguments. False
// after the reason has been printed.
bool parseKeyAndFiles(const QStringList& arguments, const QString& command, const QString& keyKind,
    const QString& filesRole, const QString& description, QString& key, QStringList& files)
{
    QCommandLineParser parser;
    parser.addOption(keyOption(QStringLiteral("The %1 key file.").arg(keyKind)));
    parser.addPositionalArgument(QStringLiteral("FILE..."), filesRole);
    parse(parser, command, arguments, description);
    if (!parser.isSet(QStringLiteral("key"))) {
        fail(QStringLiteral("%1 needs --key %2").arg(command, keyKind.toUpper()));
        return false;
    }
    if (parser.positionalArguments().isEmpty()) {
        fail(QStringLiteral("%1 needs at least one file").arg(command));
        return false;
    }
    key = parser.value(QStringLiteral("key"));
    files = parser.positionalArguments();
    return true;
}

int sign(const QStringList& arguments)
{
    QString key;
    QStringList files;
    if (!parseKeyAndFiles(arguments, QStringLiteral("sign"), QStringLiteral("private"),
            QStringLiteral("Files to sign."),
            QStringLiteral("Writes FILE.sig beside each FILE: the raw RSA-PSS signature (SHA-1, "
                           "salt length 8) of the whole file. An existing FILE.sig is replaced."),
            key, files))
        return 1;
    ReleaseSigner signer;
    if (!signer.loadKey(key))
        return fail(signer.errorString());
    int status = 0;
    for (const QString& file : files) {
        if (signer.signFile(file))
            out() << "signed " << file << Qt::endl;
        else
            status = fail(signer.errorString());
    }
    return status;
}

// One line per file, as the verifier found it; 0 only when every file verifies.
template <typename Verifier> int reportChecks(Verifier& verifier, const QStringList& files)
{
    int status = 0;
    for (const QString& file : files) {
        if (verifier.verifyFile(file)) {
            out() << "OK      " << file << Qt::endl;
        } else {
            out() << "FAILED  " << file << ": " << verifier.errorString() << Qt::endl;
            status = 1;
        }
    }
    return status;
}

int verify(const QStringList& arguments)
{
    QString key;
    QStringList files;
    if (!parseKeyAndFiles(arguments, QStringLiteral("verify"), QStringLiteral("public"),
            QStringLiteral("Files to check."),
            QStringLiteral("Checks FILE.sig against each FILE as the updater does and prints one "
                           "line per file. Exit status 0 only when every file verifies."),
            key, files))
        return 1;
    ReleaseVerifier verifier;
    if (!verifier.loadKey(key))
        return fail(verifier.errorString());
    return reportChecks(verifier, files);
}

int verifyEd25519(const QStringList& arguments)
{
    QString key;
    QStringList files;
    if (!parseKeyAndFiles(arguments, QStringLiteral("verify-ed25519"),
            QStringLiteral("Ed25519 public"), QStringLiteral("Files to check."),
            QStringLiteral("Checks FILE.sig2 against each FILE as the updater does: a line of "
                           "this key must verify. Prints one line per file. Exit status 0 only "
                           "when every file verifies."),
            key, files))
        return 1;
    Ed25519Verifier verifier;
    if (!verifier.loadKey(key))
        return fail(verifier.errorString());
    return reportChecks(verifier, files);
}

int publish(const QStringList& arguments)
{
    ReleasePublisher::Options options;
    QCommandLineParser parser;
    const QString n = QStringLiteral("NAME");
    parser.addOptions({
        keyOption(QStringLiteral("The private key that signs the product ini.")),
        { QStringLiteral("ed25519-key"),
            QStringLiteral("An Ed25519 private key (PEM) that also signs the product ini, in "
                           "TYPE.ini.sig2. Repeatable: the active and the standby key."),
            QStringLiteral("PEMFILE") },
        { QStringLiteral("input"),
            QStringLiteral("The new version's files as installed, relative to the "
                           "installation root."),
            QStringLiteral("TREE") },
        { QStringLiteral("version"), QStringLiteral("The version number."), QStringLiteral("N") },
        { QStringLiteral("output"),
            QStringLiteral("The mirror's root; the version goes to MIRRORDIR/N, which must not "
                           "exist yet."),
            QStringLiteral("MIRRORDIR") },
        { QStringLiteral("type"),
            QStringLiteral("Client type; the product ini is TYPE.ini (default %1).")
                .arg(options.clientType),
            n },
        { QStringLiteral("section"),
            QStringLiteral("Section of the input files, and their directory on the mirror "
                           "(default %1).")
                .arg(options.section),
            n },
        { QStringLiteral("bin-dir"),
            QStringLiteral("Files installed one level above the installation root (section "
                           "bin_macosx)."),
            QStringLiteral("TREE2") },
        { QStringLiteral("pack"),
            QStringLiteral("Serve files matching GLOB gzip-packed as PATH.gz. Repeatable. A "
                           "GLOB without / matches file names, one with / whole paths."),
            QStringLiteral("GLOB") },
        { QStringLiteral("signed-files"),
            QStringLiteral("Check files matching GLOB by signature instead of MD5; their .sig "
                           "is published and installed beside them. Repeatable."),
            QStringLiteral("GLOB") },
        { QStringLiteral("previous"),
            QStringLiteral("The previous version's tree: its files missing from TREE are "
                           "deleted on update."),
            QStringLiteral("OLDTREE") },
        { QStringLiteral("deltas"),
            QStringLiteral("Also publish, for each file that changed little since OLDTREE, a "
                           "zstd delta from its previous version, listed in TYPE.ini.deltas. "
                           "Needs --previous.") },
        { QStringLiteral("delete"),
            QStringLiteral("An install-relative path to delete on update. Repeatable."),
            QStringLiteral("PATH") },
        { QStringLiteral("changelog"),
            QStringLiteral("Text file published as changelog_client.txt."),
            QStringLiteral("FILE") },
    });
    parse(parser, QStringLiteral("publish"), arguments,
        QStringLiteral("Publishes one client version: MIRRORDIR/N/ receives TYPE.ini, "
                       "TYPE.ini.sig (and TYPE.ini.sig2 with --ed25519-key), SECTION/<file> for "
                       "every file of TREE, bin_macosx/<file> for TREE2, and "
                       "changelog_client.txt. The directory appears complete or not at all."));
    for (const char* required : { "key", "input", "version", "output" }) {
        if (!parser.isSet(QString::fromLatin1(required)))
            return fail(QStringLiteral("publish needs --%1").arg(QString::fromLatin1(required)));
    }
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("publish takes no file arguments; use --input"));
    bool versionOk = false;
    options.version = parser.value(QStringLiteral("version")).toInt(&versionOk);
    if (!versionOk || options.version < 0)
        return fail(
            QStringLiteral("invalid version \"%1\"").arg(parser.value(QStringLiteral("version"))));
    options.privateKeyFile = parser.value(QStringLiteral("key"));
    options.ed25519KeyFiles = parser.values(QStringLiteral("ed25519-key"));
    options.inputDir = parser.value(QStringLiteral("input"));
    options.outputDir = parser.value(QStringLiteral("output"));
    if (parser.isSet(QStringLiteral("type")))
        options.clientType = parser.value(QStringLiteral("type"));
    if (parser.isSet(QStringLiteral("section")))
        options.section = parser.value(QStringLiteral("section"));
    options.binDir = parser.value(QStringLiteral("bin-dir"));
    options.packPatterns = parser.values(QStringLiteral("pack"));
    options.signedPatterns = parser.values(QStringLiteral("signed-files"));
    options.previousDir = parser.value(QStringLiteral("previous"));
    options.deletePaths = parser.values(QStringLiteral("delete"));
    options.changelogFile = parser.value(QStringLiteral("changelog"));
    options.deltas = parser.isSet(QStringLiteral("deltas"));

    ReleasePublisher publisher(options);
    if (!publisher.publish())
        return fail(publisher.errorString());
    out() << "published " << publisher.fileCount() << " files to " << publisher.versionDir();
    if (options.deltas)
        out() << " with " << publisher.deltaCount() << " deltas";
    out() << Qt::endl;
    return 0;
}

// A decimal number from 0 to max; false after the reason has been printed.
bool parseNumber(const QCommandLineParser& parser, const QString& option, qint64 max, qint64* value)
{
    const QString text = parser.value(option);
    bool ok = !text.isEmpty() && text.at(0).isDigit();
    *value = ok ? text.toLongLong(&ok, 10) : 0;
    if (ok && *value <= max)
        return true;
    fail(QStringLiteral("invalid --%1 \"%2\"").arg(option, text));
    return false;
}

int versions(const QStringList& arguments)
{
    constexpr qint64 DaySeconds = 24 * 60 * 60;
    constexpr qint64 MaxValidDays = 3650;
    constexpr qint64 MaxSerial = 999999999999999999;
    QCommandLineParser parser;
    parser.addOptions({
        keyOption(QStringLiteral("The private Ed25519 versions key (PEM).")),
        { QStringLiteral("list"),
            QStringLiteral("The three channel entries (stable, beta, alpha) separated by \",\", "
                           "each \"number\" or \"number#name\"."),
            QStringLiteral("LIST") },
        { QStringLiteral("valid-days"), QStringLiteral("Days until the list expires (default 7)."),
            QStringLiteral("D"), QStringLiteral("7") },
        { QStringLiteral("serial"),
            QStringLiteral("The list's serial, never lower than the last one (default: the "
                           "current Unix time)."),
            QStringLiteral("N") },
    });
    parse(parser, QStringLiteral("versions"), arguments,
        QStringLiteral("Prints the version list the update server sends: the three channel "
                       "entries and a fourth, crv1:SERIAL:EXPIRES:KEYID:SIGNATURE, signed with "
                       "the versions key. Run it from cron well within --valid-days and give the "
                       "line to update-server --versions-file."));
    for (const char* required : { "key", "list" }) {
        if (!parser.isSet(QString::fromLatin1(required)))
            return fail(QStringLiteral("versions needs --%1").arg(QString::fromLatin1(required)));
    }
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("versions takes no file arguments"));
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    qint64 validDays = 0;
    if (!parseNumber(parser, QStringLiteral("valid-days"), MaxValidDays, &validDays))
        return 1;
    if (validDays == 0)
        return fail(QStringLiteral("--valid-days must be at least 1"));
    qint64 serial = now;
    if (parser.isSet(QStringLiteral("serial"))
        && !parseNumber(parser, QStringLiteral("serial"), MaxSerial, &serial))
        return 1;

    VersionListSigner signer;
    QByteArray reply;
    if (!signer.loadKey(parser.value(QStringLiteral("key")))
        || !signer.sign(
            parser.value(QStringLiteral("list")), serial, now + validDays * DaySeconds, &reply))
        return fail(signer.errorString());
    // The bytes the server sends, Latin-1 as the updater reads them, not re-encoded.
    reply += '\n';
    return std::fwrite(reply.constData(), 1, size_t(reply.size()), stdout) == size_t(reply.size())
            && std::fflush(stdout) == 0
        ? 0
        : fail(QStringLiteral("cannot write the list"));
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("crv-release"));
    const QStringList arguments = QCoreApplication::arguments();
    const QString command = arguments.value(1);
    if (command == QLatin1String("keygen"))
        return keygen(arguments);
    if (command == QLatin1String("sign"))
        return sign(arguments);
    if (command == QLatin1String("verify"))
        return verify(arguments);
    if (command == QLatin1String("verify-ed25519"))
        return verifyEd25519(arguments);
    if (command == QLatin1String("publish"))
        return publish(arguments);
    if (command == QLatin1String("versions"))
        return versions(arguments);
    if (command == QLatin1String("--help") || command == QLatin1String("-h")
        || command == QLatin1String("help")) {
        out() << "Usage: crv-release COMMAND [options]\n\n" << overview << Qt::endl;
        return 0;
    }
    err() << "Usage: crv-release COMMAND [options]\n\n" << overview << Qt::endl;
    return command.isEmpty() ? 1 : fail(QStringLiteral("unknown command \"%1\"").arg(command));
}

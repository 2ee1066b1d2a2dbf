#include "updateserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>
#include <QTextStream>

namespace {

bool parsePort(const QString& text, quint16* port)
{
    bool ok = false;
    const uint value = text.toUInt(&ok, 10);
    if (!ok || value > 65535)
        return false;
    *port = quint16(value);
    return true;
}

int fail(const QString& message)
{
    QTextStream(stderr) << "update-server: " << message << Qt::endl;
    return 2;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("update-server"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Reference update server for the updater: answers the version-list request (\"3\"), the "
        "news request (\"*\") and the banner request over UDP.\nPrints \"listening "
        "version-port=N banner-port=M\" on stdout once both ports are bound."));
    parser.addHelpOption();
    const QCommandLineOption addressOption(QStringLiteral("address"),
        QStringLiteral("IPv4 or IPv6 address to listen on (default 127.0.0.1)."),
        QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption versionPortOption(QStringLiteral("version-port"),
        QStringLiteral("UDP port of the version and news requests; 0 picks a free port (default "
                       "17384)."),
        QStringLiteral("port"), QStringLiteral("17384"));
    const QCommandLineOption bannerPortOption(QStringLiteral("banner-port"),
        QStringLiteral("UDP port of the banner request; 0 picks a free port (default 2009)."),
        QStringLiteral("port"), QStringLiteral("2009"));
    const QCommandLineOption versionsOption(QStringLiteral("versions"),
        QStringLiteral("Version list: one entry per channel (stable, beta, alpha) separated by "
                       "\",\", each \"number\" or \"number#name\" (default "
                       "\"3012#3.0.12,3013#3.1 beta,3014\")."),
        QStringLiteral("list"), QStringLiteral("3012#3.0.12,3013#3.1 beta,3014"));
    const QCommandLineOption versionsFileOption(QStringLiteral("versions-file"),
        QStringLiteral("Send the first line of FILE as the version list instead, read again for "
                       "every request (e.g. the signed list of \"crv-release versions\", "
                       "refreshed by cron). An unreadable file leaves the request unanswered."),
        QStringLiteral("FILE"));
    const QCommandLineOption newsOption(QStringLiteral("news"),
        QStringLiteral("News text of the day (default \"Welcome to Corvanta.\")."),
        QStringLiteral("text"), QStringLiteral("Welcome to Corvanta."));
    const QCommandLineOption bannerOption(QStringLiteral("banner"),
        QStringLiteral("Banner answer: image URL and click URL separated by one \",\" (default "
                       "empty)."),
        QStringLiteral("imageUrl,clickUrl"));
    const QCommandLineOption silentOption(QStringLiteral("silent"),
        QStringLiteral("Never answer the given request: versions, news or banner (may be "
                       "repeated)."),
        QStringLiteral("request"));
    parser.addOptions({ addressOption, versionPortOption, bannerPortOption, versionsOption,
        versionsFileOption, newsOption, bannerOption, silentOption });
    parser.process(app);

    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument \"%1\"")
                        .arg(parser.positionalArguments().constFirst()));

    QHostAddress address;
    if (!address.setAddress(parser.value(addressOption)))
        return fail(QStringLiteral("invalid address \"%1\"").arg(parser.value(addressOption)));
    quint16 versionPort = 0;
    if (!parsePort(parser.value(versionPortOption), &versionPort))
        return fail(
            QStringLiteral("invalid version port \"%1\"").arg(parser.value(versionPortOption)));
    quint16 bannerPort = 0;
    if (!parsePort(parser.value(bannerPortOption), &bannerPort))
        return fail(
            QStringLiteral("invalid banner port \"%1\"").arg(parser.value(bannerPortOption)));

    // The client reads every answer byte for byte as Latin-1.
    UpdateServer::Answers answers;
    answers.versions = parser.value(versionsOption).toLatin1();
    answers.versionsFile = parser.value(versionsFileOption);
    if (parser.isSet(versionsFileOption) && parser.isSet(versionsOption))
        return fail(QStringLiteral("--versions and --versions-file exclude each other"));
    answers.news = parser.value(newsOption).toLatin1();
    answers.banner = parser.value(bannerOption).toLatin1();
    for (const QString& request : parser.values(silentOption)) {
        if (request == QLatin1String("versions"))
            answers.versionsSilent = true;
        else if (request == QLatin1String("news"))
            answers.newsSilent = true;
        else if (request == QLatin1String("banner"))
            answers.bannerSilent = true;
        else
            return fail(
                QStringLiteral("--silent takes versions, news or banner, not \"%1\"").arg(request));
    }

    UpdateServer server(answers);
    if (!server.listen(address, versionPort, bannerPort))
        return fail(server.errorString());

    QTextStream(stdout) << "listening version-port=" << server.versionPort()
                        << " banner-port=" << server.bannerPort() << Qt::endl;
    return app.exec();
}

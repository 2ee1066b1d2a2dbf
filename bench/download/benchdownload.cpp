// crv-bench-download SESSION_DIR LIST_FILE MIRROR_URL...
//
// Downloads and checks every file of LIST_FILE into SESSION_DIR with the updater's file-list
// task, six streams at a time, over the given mirrors (each URL is a mirror's version folder).
// LIST_FILE holds one file per line: "section fileName md5 size". Exit status 0 when every file
// arrived and passed its check.
#include "configuration.h"
#include "crypt.h"
#include "downloadfilelisttaskspecification.h"
#include "mirrors.h"
#include "randomgenerator.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QNetworkAccessManager>
#include <QTextStream>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4) {
        std::fprintf(stderr, "usage: crv-bench-download SESSION_DIR LIST_FILE MIRROR_URL...\n");
        return 2;
    }
    crypt_init();
    RandomGenerator::seed(quint32(QDateTime::currentSecsSinceEpoch()));

    QList<FileDownloadSpecification> list;
    QFile listFile(args.at(2));
    if (!listFile.open(QIODevice::ReadOnly | QIODevice::Text)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(args.at(2)));
        return 2;
    }
    QTextStream in(&listFile);
    while (!in.atEnd()) {
        const QStringList fields = in.readLine().split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (fields.size() != 4)
            continue;
        FileDownloadSpecification file;
        file.section = fields.at(0);
        file.fileName = fields.at(1);
        file.md5 = fields.at(2);
        file.size = fields.at(3).toULongLong();
        list.append(file);
    }

    Configuration configuration;
    configuration.tempDir = args.at(1);
    configuration.downloadStreams = 6;
    Mirrors mirrors(nullptr);
    for (int i = 3; i < args.size(); ++i) {
        FTPSiteAccessData mirror;
        mirror.name = QStringLiteral("mirror%1").arg(i - 2);
        mirror.url = args.at(i);
        mirror.retries = 2;
        mirrors.mirrorList.append(mirror);
    }
    QNetworkAccessManager manager;
    DownloadFileListTaskSpecification task(&list, &manager, &mirrors, &configuration, nullptr, 1.0);
    QObject::connect(&task, &TaskSpecification::error,
        [](const QString& text) { std::fprintf(stderr, "error: %s\n", qPrintable(text)); });
    QObject::connect(&task, &TaskSpecification::finished, &app, [] { QCoreApplication::exit(0); });
    QObject::connect(&task, &TaskSpecification::canceled, &app, [] { QCoreApplication::exit(1); });
    // The engine's one-second tick, which drives the download time-outs.
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &task, [&task] {
        quint64 done = 0, total = 0, since = 0;
        bool downloading = false;
        task.timeTick(done, total, since, downloading);
    });
    tick.start(1000);
    QTimer::singleShot(0, &task, [&task] { task.execute(); });
    return app.exec();
}

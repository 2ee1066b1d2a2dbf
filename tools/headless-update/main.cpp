// Runs one whole update with the real engine and no window, for the whole-program tests and the
// demo. It takes the updater's command line, prints every log line and progress report on
// standard output, one per line, and exits 0 when the update finished, 1 when the command line
// or the configuration failed, 2 on an engine fatal error and 3 when the run was cancelled.
#include "configuration.h"
#include "updateengine.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>

namespace {

enum ExitCode { Updated = 0, ConfigurationFailed = 1, EngineFailed = 2, RunCanceled = 3 };

void printLine(const QString& kind, const QString& text)
{
    // Flushed line by line: a test reads the output while the run goes on.
    std::fputs(qPrintable(kind + QStringLiteral(": ") + text + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[])
{
    // Widgets because the configuration asks Retry/Abort when the update server does not answer.
    QApplication app(argc, argv);
    Configuration configuration;
    UpdateEngine engine(configuration, nullptr);
    bool failed = false;
    const auto fail = [&](ExitCode code) {
        failed = true;
        app.exit(code);
    };

    QObject::connect(&configuration, &Configuration::fatalError, [&](const QString& text) {
        printLine(QStringLiteral("fatal"), text);
        fail(ConfigurationFailed);
    });
    QObject::connect(&engine, &UpdateEngine::fatalError, [&](const QString& text) {
        printLine(QStringLiteral("fatal"), text);
        fail(EngineFailed);
    });
    QObject::connect(&engine, &UpdateEngine::error,
        [](const QString& text) { printLine(QStringLiteral("error"), text); });
    QObject::connect(&engine, &UpdateEngine::message,
        [](const QString& text) { printLine(QStringLiteral("message"), text); });
    QObject::connect(&engine, &UpdateEngine::updateProgress,
        [](qreal done) { printLine(QStringLiteral("progress"), QString::number(done, 'f', 3)); });
    QObject::connect(&engine, &UpdateEngine::downloadProgress,
        [](quint64 done, quint64 total, quint64 speed, bool downloading) {
            printLine(QStringLiteral("download"),
                QStringLiteral("%1 of %2 bytes, %3 bytes/s%4")
                    .arg(done)
                    .arg(total)
                    .arg(speed)
                    .arg(downloading ? QStringLiteral(", downloading") : QString()));
        });
    QObject::connect(&engine, &UpdateEngine::updateFinished, [&] { app.exit(Updated); });
    QObject::connect(&engine, &UpdateEngine::updateCanceled, [&] { app.exit(RunCanceled); });

    if (!configuration.parseCommandLineOptions())
        return ConfigurationFailed;
    printLine(QStringLiteral("target"),
        QStringLiteral("%1 version %2")
            .arg(configuration.clientType)
            .arg(configuration.clientVersion));

    // From the event loop, after a fatal error the engine's constructor may have queued.
    QTimer::singleShot(0, &engine, [&] {
        if (failed)
            return;
        if (!engine.initialize()) {
            fail(EngineFailed);
            return;
        }
        engine.startUpdate();
    });
    return app.exec();
}

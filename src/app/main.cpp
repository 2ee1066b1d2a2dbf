#include "configuration.h"
#include "installationlock.h"
#include "mainwindow.h"
#include "updateengine.h"
#include "updateinidata.h"

#include <QApplication>
#include <QLocale>
#include <QTimer>
#include <QTranslator>

namespace {
constexpr int autoStartDelayMs = 2000;
constexpr int exitRejectedCommandLine = 1;
constexpr int exitInstallationBusy = 1;
} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);

    // One updater per installation, for the whole run; the lock is held until main returns.
    InstallationLock installationLock;
    if (!installationLock.acquire())
        return exitInstallationBusy;
    UpdateIniData::removeWriterLeftovers();

    const QString root = Configuration::getAppRootPath();
    // A missing translation leaves the texts in English; installing it anyway is harmless.
    const QString locale = QLocale::system().name();
    QTranslator updateTranslator;
    (void)updateTranslator.load(root + QStringLiteral("/translations/update_") + locale);
    app.installTranslator(&updateTranslator);
    QTranslator qtTranslator;
    (void)qtTranslator.load(root + QStringLiteral("/translations/qt_") + locale);
    app.installTranslator(&qtTranslator);

    Configuration configuration;
    // Connected to the configuration's fatal errors before the command line is parsed.
    MainWindow window(configuration);

    if (!configuration.parseCommandLineOptions()) {
        // A rejected command line has opened its error box, which ends the loop when it is
        // confirmed; an aborted version query has opened none.
        if (QApplication::activeModalWidget())
            app.exec();
        return exitRejectedCommandLine;
    }

    if (configuration.noUserMode == 1)
        QTimer::singleShot(autoStartDelayMs, &window, &MainWindow::onAutoStartUpdate);
    window.setUIToConfigSpecs();
    window.show();
    window.setNews();
    return app.exec();
}

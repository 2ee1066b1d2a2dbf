// Builds the update plan once, as the updater does, and prints its sizes.

#include "configuration.h"
#include "crypt.h"
#include "filespecifications.h"
#include "makedownloadreplacelisttaskspecification.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        QTextStream(stderr) << "usage: crv-bench-plan SESSION_DIR\n";
        return 2;
    }
    crypt_init();
    Configuration configuration;
    configuration.tempDir = QString::fromLocal8Bit(argv[1]);
    configuration.clientType = QStringLiteral("client_macosx");
    FileSpecifications plan;
    MakeDownloadReplaceListTaskSpecification task(&configuration, plan, nullptr, 1.0);
    QObject::connect(&task, &TaskSpecification::finished, &app, &QCoreApplication::quit);
    QObject::connect(&task, &TaskSpecification::canceled, &app, &QCoreApplication::quit);
    task.execute();
    app.exec();
    QTextStream(stdout) << "replace " << plan.replaceList.size() << " download "
                        << plan.downloadList.size() << " delete " << plan.deleteList.size() << '\n';
    return task.state == TaskSpecification::TaskFinished ? 0 : 1;
}

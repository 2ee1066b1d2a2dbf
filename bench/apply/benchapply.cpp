// Applies a replace list made of every file in the session directory, as the updater's
// replacement and delete steps do, and reports the outcome.

#include "configuration.h"
#include "filedeletelisttaskspecification.h"
#include "filereplacelisttaskspecification.h"
#include "filespecifications.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QEventLoop>
#include <QTextStream>

namespace {
bool runToEnd(TaskSpecification& task)
{
    QEventLoop loop;
    QObject::connect(&task, &TaskSpecification::finished, &loop, &QEventLoop::quit);
    QObject::connect(&task, &TaskSpecification::canceled, &loop, &QEventLoop::quit);
    // One stream for all: a stream made per line would stat stderr each time.
    static QTextStream log(stderr);
    QObject::connect(
        &task, &TaskSpecification::message, [](const QString& text) { log << text << '\n'; });
    task.execute();
    if (task.state == TaskSpecification::TaskRunning)
        loop.exec();
    return task.state == TaskSpecification::TaskFinished;
}
}

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        QTextStream(stderr) << "usage: crv-bench-apply SESSION_DIR\n";
        return 2;
    }
    Configuration configuration;
    configuration.tempDir = QString::fromLocal8Bit(argv[1]);
    const QDir session(configuration.tempDir);
    FileSpecifications plan;
    QDirIterator it(configuration.tempDir, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        FileReplaceSpecification entry;
        entry.section = QStringLiteral("files");
        entry.fileName = session.relativeFilePath(it.next());
        plan.replaceList.append(entry);
    }
    FileReplaceListTaskSpecification replace(
        &plan.replaceList, &plan.deleteList, &plan.statCache, &configuration, nullptr, 0.4);
    if (!runToEnd(replace))
        return 1;
    FileDeleteListTaskSpecification remove(&plan.deleteList, nullptr, 0.05);
    runToEnd(remove);
    QTextStream(stdout) << "replaced " << plan.replaceList.size() << " deleted "
                        << plan.deleteList.size() << '\n';
    return 0;
}

#include "processtools.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

// The argument given to the program opener: the bundle five levels above the executable.
class TestProcessTools : public QObject
{
    Q_OBJECT
private slots:
    void clientBundlePath();
};

void TestProcessTools::clientBundlePath()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString root = QDir(tmp.path()).canonicalPath();
    const QString bundle = root + QLatin1String("/Corvanta.app");
    QVERIFY(QDir().mkpath(bundle + QLatin1String("/a/b/c/d/exe")));

    // Plain directories.
    QCOMPARE(ProcessTools::clientBundlePath(bundle + QLatin1String("/a/b/c/d/exe")), bundle);

    // A link among the parents: ".." leads out of the link's target, not back to the link's
    // own parent, so the lexical answer (root) would be wrong.
    QVERIFY(QDir().mkpath(root + QLatin1String("/elsewhere")));
    QVERIFY(QFile::link(bundle + QLatin1String("/a/b"), root + QLatin1String("/elsewhere/link")));
    QCOMPARE(
        ProcessTools::clientBundlePath(root + QLatin1String("/elsewhere/link/c/d/exe")), bundle);

    // A linked bundle directory resolves to its target as well.
    QVERIFY(QFile::link(bundle, root + QLatin1String("/Linked.app")));
    QCOMPARE(
        ProcessTools::clientBundlePath(root + QLatin1String("/Linked.app/a/b/c/d/exe")), bundle);

    // Nothing there: empty.
    QCOMPARE(
        ProcessTools::clientBundlePath(root + QLatin1String("/missing/a/b/c/d/exe")), QString());
}

QTEST_GUILESS_MAIN(TestProcessTools)
#include "tst_processtools.moc"

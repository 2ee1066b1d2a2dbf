#include "configuration.h"
#include "mirrors.h"
#include "mirrorurl.h"
#include "randomgenerator.h"
#include "testspies.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>

namespace {
QStringList names(const Mirrors& mirrors)
{
    QStringList result;
    for (const FTPSiteAccessData& mirror : mirrors.mirrorList)
        result << mirror.name;
    return result;
}
} // namespace

class TestMirrors : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();
    void initDefault_data();
    void initDefault();
    void initAlpha_data();
    void initAlpha();
    void emptyListReportsOnce();
    void choiceTakesOnlyIdleMirror();
    void choiceIsSpreadOverIdleMirrors();
    void errorTolerance_data();
    void errorTolerance();
    void unknownNamesChangeNothing();
    void blameForRunningOutOfMirrors_data();
    void blameForRunningOutOfMirrors();
    void duplicateNamesHitFirst();
    void mirrorUrl_data();
    void mirrorUrl();

private:
    QString writeIni(const QString& fileName, const QByteArray& text);
};

QString TestMirrors::writeIni(const QString& fileName, const QByteArray& text)
{
    const QString path = Configuration::getAppRootFilePath(fileName);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    file.write(text);
    return path;
}

void TestMirrors::cleanup()
{
    QFile::remove(Configuration::getAppRootFilePath(QStringLiteral("mirrors.ini")));
    QFile::remove(Configuration::getAppRootFilePath(QStringLiteral("update.ini")));
}

void TestMirrors::initDefault_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("urls");
    QTest::addColumn<QList<int>>("retries");
    QTest::addColumn<QStringList>("log");
    // Every mirror's silence time-out in ticks; empty: all 15.
    QTest::addColumn<QList<int>>("timeouts");

    QTest::newRow("no file content") << QByteArray() << QStringList() << QStringList()
                                     << QList<int>() << QStringList() << QList<int>();
    QTest::newRow("empty array") << QByteArray("[mirrors]\nsize=0\n") << QStringList()
                                 << QStringList() << QList<int>() << QStringList() << QList<int>();
    QTest::newRow("blank names") << QByteArray("[mirrors]\nsize=3\n1\\mirror=\n2\\mirror=\"  \"\n")
                                 << QStringList() << QStringList() << QList<int>() << QStringList()
                                 << QList<int>();
    QTest::newRow("order, trimming and retries")
        << QByteArray("[mirrors]\nsize=9\n1\\mirror=zero\n2\\mirror=\" neg \"\n"
                      "3\\mirror=word\n4\\mirror=missing\n5\\mirror=three\n"
                      "6\\mirror=huge\n7\\mirror=\n8\\mirror=ten\n9\\mirror=dead\n"
                      "[zero]\nurl=http://a.example/rel\nretries=0\n"
                      "[neg]\nurl=http://b.example/rel/\nretries=-1\n"
                      "[word]\nurl=http://c.example\nretries=many\n"
                      "[missing]\nurl=http://d.example/\n"
                      "[three]\nurl=http://e.example/x\nretries=3\n"
                      "[huge]\nurl=http://f.example\nretries=4294967295\n"
                      "[ten]\nurl=http://h.example\nretries=10\n"
                      "[dead]\nurl=http://i.example\nretries=2000000\n"
                      "[unlisted]\nurl=http://g.example\n")
        << QStringList { "zero", "neg", "word", "missing", "three", "huge", "ten", "dead" }
        << QStringList { "http://a.example/rel/3012", "http://b.example/rel/3012",
               "http://c.example/3012", "http://d.example/3012", "http://e.example/x/3012",
               "http://f.example/3012", "http://h.example/3012", "http://i.example/3012" }
        << QList<int> { 2, 2, 2, 2, 3, 2, 10, 10 } << QStringList() << QList<int>();
    QTest::newRow("duplicate names")
        << QByteArray("[mirrors]\nsize=3\n1\\mirror=same\n2\\mirror=other\n"
                      "3\\mirror=\" same\"\n"
                      "[same]\nurl=http://s.example\nretries=5\n[other]\nurl=http://o.example\n")
        << QStringList { "same", "other" }
        << QStringList { "http://s.example/3012", "http://o.example/3012" } << QList<int> { 5, 2 }
        << QStringList { "Mirror same is listed more than once; using its first entry" }
        << QList<int>();
    QTest::newRow("control characters in a name")
        << QByteArray("[mirrors]\nsize=2\n1\\mirror=\"bad\\nMirror x failed\"\n"
                      "2\\mirror=good\n[good]\nurl=http://g.example\n")
        << QStringList { "good" } << QStringList { "http://g.example/3012" } << QList<int> { 2 }
        << QStringList { "Mirror bad\\nMirror x failed has a name with control characters; "
                         "not using it" }
        << QList<int>();
    QTest::newRow("silence time-outs")
        << QByteArray("[mirrors]\nsize=6\n1\\mirror=two\n2\\mirror=zero\n3\\mirror=neg\n"
                      "4\\mirror=word\n5\\mirror=huge\n6\\mirror=none\n"
                      "[two]\nurl=http://a.example\ntimeout=2\n"
                      "[zero]\nurl=http://b.example\ntimeout=0\n"
                      "[neg]\nurl=http://c.example\ntimeout=-3\n"
                      "[word]\nurl=http://d.example\ntimeout=soon\n"
                      "[huge]\nurl=http://e.example\ntimeout=100000\n"
                      "[none]\nurl=http://f.example\n")
        << QStringList { "two", "zero", "neg", "word", "huge", "none" }
        << QStringList { "http://a.example/3012", "http://b.example/3012", "http://c.example/3012",
               "http://d.example/3012", "http://e.example/3012", "http://f.example/3012" }
        << QList<int> { 2, 2, 2, 2, 2, 2 } << QStringList()
        << QList<int> { 2, 15, 15, 15, 300, 15 };
}

void TestMirrors::initDefault()
{
    QFETCH(QByteArray, ini);
    QFETCH(QStringList, names);
    QFETCH(QStringList, urls);
    QFETCH(QList<int>, retries);
    QFETCH(QStringList, log);
    QFETCH(QList<int>, timeouts);

    Mirrors mirrors(nullptr);
    QSignalSpy messages(&mirrors, &Mirrors::message);
    QVERIFY(mirrors.initDefault(writeIni(QStringLiteral("mirrors.ini"), ini), 3012));
    QCOMPARE(::names(mirrors), names);
    QCOMPARE(TestSpies::texts(messages), log);
    for (int i = 0; i < mirrors.mirrorList.size(); ++i) {
        const FTPSiteAccessData& mirror = mirrors.mirrorList.at(i);
        QCOMPARE(mirror.url, urls.at(i));
        QCOMPARE(mirror.retries, retries.at(i));
        QCOMPARE(mirror.errorCount, 0);
        QCOMPARE(mirror.useCount, 0);
        QCOMPARE(mirror.maxUses, 1);
        QCOMPARE(mirror.timeoutTicks, timeouts.isEmpty() ? 15 : timeouts.at(i));
    }
}

void TestMirrors::initAlpha_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QString>("url");

    QTest::newRow("no slash") << QByteArray("[Channel]\nchannel=2\nalpha=http://a.example/al\n")
                              << "http://a.example/al/77";
    QTest::newRow("slash") << QByteArray("[Channel]\nalpha=http://a.example/al/\n")
                           << "http://a.example/al/77";
    QTest::newRow("comma in the URL")
        << QByteArray("[Channel]\nalpha=http://a.example/al,b\n") << "http://a.example/al,b/77";
    QTest::newRow("missing") << QByteArray("[Channel]\nchannel=2\n") << QString();
    QTest::newRow("wrong group") << QByteArray("[update]\nalpha=http://a.example\n") << QString();
}

void TestMirrors::initAlpha()
{
    QFETCH(QByteArray, ini);
    QFETCH(QString, url);

    Mirrors mirrors(nullptr);
    QSignalSpy fatal(&mirrors, &Mirrors::fatalError);
    const bool ok = mirrors.initAlpha(writeIni(QStringLiteral("update.ini"), ini), 77);
    QCOMPARE(ok, !url.isEmpty());
    if (url.isEmpty()) {
        QCOMPARE(fatal.size(), 1);
        QCOMPARE(fatal.at(0).at(0).toString(),
            QStringLiteral("Alpha parameter in channel section in update ini file not found"));
        QVERIFY(mirrors.mirrorList.isEmpty());
        return;
    }
    QCOMPARE(fatal.size(), 0);
    QCOMPARE(names(mirrors), QStringList { "Alpha Channel" });
    QCOMPARE(mirrors.mirrorList.at(0).url, url);
    QCOMPARE(mirrors.mirrorList.at(0).retries, 4);
}

void TestMirrors::emptyListReportsOnce()
{
    Mirrors mirrors(nullptr);
    QVERIFY(mirrors.initDefault(
        writeIni(QStringLiteral("mirrors.ini"), "[mirrors]\nsize=1\n1\\mirror=\" \"\n"), 1));
    QSignalSpy messages(&mirrors, &Mirrors::message);
    FTPSiteAccessData out;
    QCOMPARE(mirrors.getRandomMirror(out), int(Mirrors::NoMirrorLeft));
    QCOMPARE(mirrors.getRandomMirror(out), int(Mirrors::NoMirrorLeft));
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages.at(0).at(0).toString(),
        QStringLiteral("There are no (more) known working mirrors available"));
    QVERIFY(mirrors.noMirrorsReported);
}

void TestMirrors::choiceTakesOnlyIdleMirror()
{
    Mirrors mirrors(nullptr);
    for (const char* name : { "a", "b", "c" }) {
        FTPSiteAccessData mirror;
        mirror.name = QString::fromLatin1(name);
        mirrors.mirrorList.append(mirror);
    }
    mirrors.mirrorList[0].useCount = 1;
    mirrors.mirrorList[2].useCount = 1;
    for (int seed = 0; seed < 20; ++seed) {
        RandomGenerator::seed(quint32(seed));
        FTPSiteAccessData out;
        QCOMPARE(mirrors.getRandomMirror(out), int(Mirrors::MirrorChosen));
        QCOMPARE(out.name, QStringLiteral("b"));
        QCOMPARE(out.useCount, 1);
        mirrors.releaseMirror(QStringLiteral("b"));
    }

    mirrors.mirrorList[1].useCount = 1;
    FTPSiteAccessData untouched;
    untouched.name = QStringLiteral("untouched");
    QCOMPARE(mirrors.getRandomMirror(untouched), int(Mirrors::AllMirrorsBusy));
    QCOMPARE(untouched.name, QStringLiteral("untouched"));
    int capacity = -1, inUse = -1;
    mirrors.calcUseStats(capacity, inUse);
    QCOMPARE(capacity, 3);
    QCOMPARE(inUse, 3);
}

void TestMirrors::choiceIsSpreadOverIdleMirrors()
{
    // Every idle mirror must be reachable: a walk that skipped the last one would leave a
    // mirror unused for the whole run.
    Mirrors mirrors(nullptr);
    for (const char* name : { "a", "b", "c" }) {
        FTPSiteAccessData mirror;
        mirror.name = QString::fromLatin1(name);
        mirrors.mirrorList.append(mirror);
    }
    RandomGenerator::seed(7);
    QHash<QString, int> chosen;
    for (int i = 0; i < 300; ++i) {
        FTPSiteAccessData out;
        QCOMPARE(mirrors.getRandomMirror(out), int(Mirrors::MirrorChosen));
        ++chosen[out.name];
        mirrors.releaseMirror(out.name);
    }
    for (const char* name : { "a", "b", "c" })
        QVERIFY2(chosen.value(QString::fromLatin1(name)) > 50, name);
}

void TestMirrors::errorTolerance_data()
{
    QTest::addColumn<bool>("alpha");
    QTest::addColumn<int>("removedOnError");

    QTest::newRow("default mirror") << false << 3;
    QTest::newRow("alpha mirror") << true << 5;
}

void TestMirrors::errorTolerance()
{
    QFETCH(bool, alpha);
    QFETCH(int, removedOnError);

    Mirrors mirrors(nullptr);
    if (alpha) {
        QVERIFY(mirrors.initAlpha(
            writeIni(QStringLiteral("update.ini"), "[Channel]\nalpha=http://x.example\n"), 5));
    } else {
        QVERIFY(mirrors.initDefault(writeIni(QStringLiteral("mirrors.ini"),
                                        "[mirrors]\nsize=1\n1\\mirror=m\n"
                                        "[m]\nurl=http://x.example\n"),
            5));
    }
    const QString name = mirrors.mirrorList.at(0).name;
    QSignalSpy messages(&mirrors, &Mirrors::message);
    for (int error = 1; error < removedOnError; ++error) {
        mirrors.addMirrorError(name);
        QCOMPARE(mirrors.mirrorList.size(), 1);
        QCOMPARE(mirrors.mirrorList.at(0).errorCount, error);
    }
    QCOMPARE(messages.size(), 0);
    mirrors.addMirrorError(name);
    QVERIFY(mirrors.mirrorList.isEmpty());
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages.at(0).at(0).toString(),
        QStringLiteral("Mirror %1 failed too many times, removing").arg(name));
}

void TestMirrors::unknownNamesChangeNothing()
{
    Mirrors mirrors(nullptr);
    FTPSiteAccessData mirror;
    mirror.name = QStringLiteral("known");
    mirror.useCount = 1;
    mirror.errorCount = 1;
    mirrors.mirrorList.append(mirror);
    QSignalSpy messages(&mirrors, &Mirrors::message);

    for (const QString& name : { QStringLiteral("unknown"), QStringLiteral("Known"), QString() }) {
        mirrors.releaseMirror(name);
        QCOMPARE(mirrors.addMirrorError(name), -1);
        QCOMPARE(mirrors.removeMirror(name), -1);
        QCOMPARE(mirrors.getMirrorIndex(name), -1);
    }
    QCOMPARE(mirrors.mirrorList.size(), 1);
    QCOMPARE(mirrors.mirrorList.at(0).useCount, 1);
    QCOMPARE(mirrors.mirrorList.at(0).errorCount, 1);
    QCOMPARE(messages.size(), 0);
}

void TestMirrors::blameForRunningOutOfMirrors_data()
{
    // What happens, in order: "MIRROR 404 PATH", "MIRROR removed", "MIRROR errors" (one more
    // than its tolerance), "oversize PATH", "arrived PATH".
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QString>("blame");

    const auto unpublished = [](const char* path) {
        return QStringLiteral("No mirror has %1 of this version (each answered \"not found\"): "
                              "the version is not completely published yet.")
            .arg(QLatin1String(path));
    };
    QTest::newRow("none lost: the network") << QStringList() << QString();
    QTest::newRow("all lacked a file: the first named") << QStringList { "a 404 client_macosx.ini",
        "b 404 files/a.bin", "c 404 client_macosx.ini" } << unpublished("client_macosx.ini");
    QTest::newRow("one removed for another fault: the network")
        << QStringList { "a 404 client_macosx.ini", "b removed", "c 404 client_macosx.ini" }
        << QString();
    QTest::newRow("one failed too often: the network")
        << QStringList { "a errors", "b 404 files/a.bin", "c 404 files/a.bin" } << QString();
    QTest::newRow("a mirror no longer listed counts nothing")
        << QStringList { "x 404 files/a.bin" } << QString();
    QTest::newRow("too large: the first standing")
        << QStringList { "oversize a.bin", "oversize b.bin", "a removed" } << "a.bin too large";
    QTest::newRow("too large, then arrived whole after all")
        << QStringList { "oversize a.bin", "arrived a.bin" } << QString();
    QTest::newRow("another file's oversize still stands")
        << QStringList { "oversize a.bin", "oversize b.bin", "arrived a.bin" } << "b.bin too large";
    QTest::newRow("too large wins over not found")
        << QStringList { "a 404 files/a.bin", "oversize b.bin" } << "b.bin too large";
}

void TestMirrors::blameForRunningOutOfMirrors()
{
    QFETCH(QStringList, events);
    QFETCH(QString, blame);
    Mirrors mirrors(nullptr);
    for (const char* name : { "a", "b", "c" }) {
        FTPSiteAccessData mirror;
        mirror.name = QString::fromLatin1(name);
        mirror.retries = 1;
        mirrors.mirrorList.append(mirror);
    }
    for (const QString& event : std::as_const(events)) {
        const QStringList fields = event.split(QLatin1Char(' '));
        if (fields.at(0) == QLatin1String("oversize"))
            mirrors.blameOversize(fields.at(1), fields.at(1) + QStringLiteral(" too large"));
        else if (fields.at(0) == QLatin1String("arrived"))
            mirrors.clearBlame(fields.at(1));
        else if (fields.at(1) == QLatin1String("404"))
            mirrors.removeNotPublishing(fields.at(0), fields.at(2));
        else if (fields.at(1) == QLatin1String("removed"))
            mirrors.removeMirror(fields.at(0));
        else
            for (int n = 0; n < 2; ++n)
                mirrors.addMirrorError(fields.at(0));
    }
    QCOMPARE(mirrors.takeBlame(), blame);
    // Given once.
    QCOMPARE(mirrors.takeBlame(), QString());
}

void TestMirrors::duplicateNamesHitFirst()
{
    // Records of one name made by code other than the mirror list file.
    Mirrors mirrors(nullptr);
    for (const char* name : { "d", "e", "d" }) {
        FTPSiteAccessData mirror;
        mirror.name = QString::fromLatin1(name);
        mirror.retries = 2;
        mirrors.mirrorList.append(mirror);
    }
    mirrors.mirrorList[2].useCount = 1;
    mirrors.addMirrorError(QStringLiteral("d"));
    QCOMPARE(mirrors.mirrorList.at(0).errorCount, 1);
    QCOMPARE(mirrors.mirrorList.at(2).errorCount, 0);
    mirrors.removeMirror(QStringLiteral("d"));
    QCOMPARE(names(mirrors), (QStringList { "e", "d" }));
    QCOMPARE(mirrors.getMirrorIndex(QStringLiteral("d")), 1);
    mirrors.releaseMirror(QStringLiteral("d"));
    QCOMPARE(mirrors.mirrorList.at(1).useCount, 0);
}

void TestMirrors::mirrorUrl_data()
{
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("url");
    QTest::newRow("plain") << "http://m.example/rel"
                           << "changelog_client.txt"
                           << QByteArray("http://m.example/rel/12/changelog_client.txt");
    QTest::newRow("base keeps its escapes")
        << "http://m.example:8080/my%20dir/"
        << "files/a b#?%41.bin"
        << QByteArray("http://m.example:8080/my%20dir/12/files/a%20b%23%3F%2541.bin");
}

void TestMirrors::mirrorUrl()
{
    QFETCH(QString, base);
    QFETCH(QString, path);
    QFETCH(QByteArray, url);
    QCOMPARE(MirrorUrl::fileUrl(base, QStringLiteral("12"), path).toEncoded(), url);
}

QTEST_GUILESS_MAIN(TestMirrors)
#include "tst_mirrors.moc"

#include "escapedforlog.h"

#include <QTest>

class tst_EscapedForLog : public QObject
{
    Q_OBJECT
private slots:
    void escapes_data();
    void escapes();
};

void tst_EscapedForLog::escapes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("ordinary name unchanged") << "inst/lib/a b,c.dylib"
                                             << "inst/lib/a b,c.dylib";
    QTest::newRow("letters beyond ASCII unchanged") << QString::fromUtf8(
        "Größe/日本/\xF0\x9F\x98\x80") << QString::fromUtf8("Größe/日本/\xF0\x9F\x98\x80");
    QTest::newRow("line break forging a line") << "a\nWarning: forged"
                                               << "a\\nWarning: forged";
    QTest::newRow("carriage return and tab") << "a\rb\tc"
                                             << "a\\rb\\tc";
    QTest::newRow("NUL does not cut the rest") << QString::fromLatin1("a\0b", 3) << "a\\u0000b";
    QTest::newRow("escape sequence of a terminal") << "\x1b[2Jx"
                                                   << "\\u001b[2Jx";
    QTest::newRow("DEL and C1 controls") << QString::fromUtf8("a\x7f\xc2\x85") << "a\\u007f\\u0085";
    QTest::newRow("backslash doubled, so an escape is never ambiguous") << "a\\nb"
                                                                        << "a\\\\nb";
    QTest::newRow("line and paragraph separators")
        << QString::fromUtf8("a\u2028b\u2029") << "a\\u2028b\\u2029";
    QTest::newRow("direction override hiding the real name")
        << QString::fromUtf8("evil\u202Etxt.exe") << "evil\\u202etxt.exe";
    QTest::newRow("broken surrogate pair")
        << QString(QChar(0xd800)) + QStringLiteral("x") + QChar(0xdc00) << "\\ud800x\\udc00";
    QTest::newRow("empty") << QString() << QString();
}

void tst_EscapedForLog::escapes()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(escapedForLog(text), expected);
}

QTEST_APPLESS_MAIN(tst_EscapedForLog)
#include "tst_escapedforlog.moc"

#pragma once

#include <QProcessEnvironment>
#include <QString>

class XvfbDisplay;

// How a whole-program test starts the program `update`: on its virtual display, with a temp
// folder of its own, and with a recording script first in PATH in place of the client opener,
// so that a successful run starts no real client.
//
//     QVERIFY(ProgramEnvironment::installOpener(binDir));
//     process.setProcessEnvironment(ProgramEnvironment::make(display, tmp, binDir));
//     ... QTRY_COMPARE(TestFiles::read(ProgramEnvironment::openerRecord(tmp)), bundle + '\n');
namespace ProgramEnvironment {
// Writes the opener script into binDir; it records its arguments in openerRecord(TMPDIR).
bool installOpener(const QString& binDir);
QString openerRecord(const QString& tmp);
QProcessEnvironment make(const XvfbDisplay& display, const QString& tmp, const QString& binDir);
} // namespace ProgramEnvironment

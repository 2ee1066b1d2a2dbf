#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// A virtual X display of its own for a whole-program test: Xvfb picks a free display number
// (several test runs share the machine), and the children the test starts get it as DISPLAY.
// Stopped by the destructor.
//
//     XvfbDisplay display;
//     QVERIFY(display.start());
//     process.setProcessEnvironment(display.environment());
//     QTRY_VERIFY(!display.windows("^Error$").isEmpty());
class XvfbDisplay
{
public:
    XvfbDisplay() = default;
    ~XvfbDisplay();
    XvfbDisplay(const XvfbDisplay&) = delete;
    XvfbDisplay& operator=(const XvfbDisplay&) = delete;

    // True once the server accepts clients.
    bool start();
    // The system environment with DISPLAY set to this display.
    QProcessEnvironment environment() const;
    // The ids of the mapped windows whose title matches the regular expression (xdotool).
    QStringList windows(const QString& titlePattern) const;
    // Focuses the window and presses a key (an xdotool key name such as "Return").
    bool key(const QString& window, const QString& keyName) const;
    // Saves the whole screen as an image file (ImageMagick's import).
    bool screenshot(const QString& path) const;

private:
    bool runTool(const QString& program, const QStringList& arguments, QByteArray* output) const;

    QProcess server;
    QString display;
};

#pragma once

#include <QDesktopServices>
#include <QObject>
#include <QStringList>
#include <QUrl>

// Takes the place of the browser and of the programs the desktop would start: records every
// URL of the schemes the tests use that the desktop is asked to open, for as long as it exists.
class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    UrlRecorder()
    {
        for (const QString& scheme : schemes())
            QDesktopServices::setUrlHandler(scheme, this, "open");
    }
    ~UrlRecorder() override
    {
        for (const QString& scheme : schemes())
            QDesktopServices::unsetUrlHandler(scheme);
    }

    QStringList opened;

public slots:
    void open(const QUrl& url) { opened.append(url.toString()); }

private:
    static QStringList schemes()
    {
        return { QStringLiteral("http"), QStringLiteral("https"), QStringLiteral("file"),
            QStringLiteral("crvtest") };
    }
};

#pragma once

#include <QString>

class QUrl;

// The one way the window opens a link in the user's browser. Link targets come from the news
// and the banner, which anyone on the path to the update server can forge: only http and https
// addresses with a host are handed to the desktop. Anything else (a local file, which the
// desktop would run if it is an application, or a custom scheme that starts another program)
// is logged and ignored.
class WebLink
{
public:
    static bool isWebUrl(const QUrl& url);
    // True when the URL was handed to the desktop.
    static bool open(const QString& url);
};

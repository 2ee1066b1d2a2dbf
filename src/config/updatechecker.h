#pragma once

#include "updatechannel.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// One query of the update server over UDP (IPv4): the version list of all channels and the
// news text of the day. Replies count only when they come from the server's address and port.
// The query blocks the calling thread: each of the two receives waits at most five seconds.
// Not thread-safe; use one checker per query.
class UpdateChecker
{
public:
    // The default update server (the build's update server host, port 17384).
    UpdateChecker();
    UpdateChecker(const QString& host, quint16 port);

    // (version number text, version name), one entry per channel in the server's order.
    QList<QPair<QString, QString>> versionList;
    // The version-list reply split at ",", exactly as received: the three channel entries and,
    // from servers that sign it, the signature entry.
    QStringList versionEntries;
    QString news;

    bool checkUpdate();
    // One exchange: version-list request and reply, then news request and reply. True when both
    // replies arrived. Each attempt starts with an empty versionList and versionEntries; entries
    // parsed before a later step failed stay in them.
    bool readFromServer();
    // The entry of the channel, or two empty strings when the server sent none for it.
    QPair<QString, QString> getClientVersionByChannel(UpdateChannel channel) const;

    static QString defaultHost();
    static quint16 defaultPort();

    // The text of one received datagram: Latin-1, ending at its first NUL.
    static QString replyText(const QByteArray& datagram);
    // Fills versionList and versionEntries from the version-list reply's text.
    void parseVersionList(const QString& text);

private:

    QString m_host;
    quint16 m_port;
};

#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QUdpSocket>

// The reference update server: answers the version-list request ("3" NUL) and the news request
// ("*" NUL) on the version port, and the banner request (0x01 0x01) on the banner port, each
// with one datagram of configured 8-bit text sent back to the requester; the version list may
// come from a file instead. Any answer can be switched off to let a client run into its
// time-out. Other datagrams are ignored.
class UpdateServer : public QObject
{
    Q_OBJECT
public:
    struct Answers
    {
        QByteArray versions;
        // When set, the version list is this file's first line, read afresh for every request
        // so that a cron job can replace it (write a new file, then rename it over the old one).
        QString versionsFile;
        QByteArray news;
        QByteArray banner;
        bool versionsSilent = false;
        bool newsSilent = false;
        bool bannerSilent = false;
    };

    UpdateServer(const Answers& answers, QObject* parent = nullptr);

    // Binds both ports (0 picks a free one). False with errorString() set when either fails.
    bool listen(const QHostAddress& address, quint16 versionPort, quint16 bannerPort);
    QString errorString() const { return m_errorString; }
    quint16 versionPort() const { return m_versionSocket.localPort(); }
    quint16 bannerPort() const { return m_bannerSocket.localPort(); }

private:
    void onVersionSocketReadyRead();
    void onBannerSocketReadyRead();
    // The version list to send; false (with the reason in *problem) when the file is unreadable.
    bool versionsAnswer(QByteArray* text, QString* problem) const;
    void answer(QUdpSocket& socket, const QHostAddress& peer, quint16 peerPort, const char* request,
        const QByteArray& text, bool silent, const QString& problem = QString());

    Answers m_answers;
    QUdpSocket m_versionSocket;
    QUdpSocket m_bannerSocket;
    QString m_errorString;
};

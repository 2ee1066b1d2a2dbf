#pragma once

#include "mirrors.h"

#include <QNetworkAccessManager>
#include <QString>

#include <memory>
#include <vector>

class TestHttpServer;

// The download side of a test: HTTP servers on 127.0.0.1, a mirror list that points at them and
// the network manager the downloads share. Every mirror serves the same folder of its server
// (for example "/9", as a real mirror serves one version's folder).
//
//     TestMirrorList net(QStringLiteral("/9"));
//     TestHttpServer* server = net.startServer(served.path());
//     QVERIFY(server);
//     net.add(QStringLiteral("one"), server);
//     DownloadTaskSpecification task(&net.manager, &net.mirrors, ...);
//
// Tasks that use the manager or the list must be gone before this object.
class TestMirrorList
{
    // Declared first so that they outlive the manager and the list that refer to them.
    std::vector<std::unique_ptr<TestHttpServer>> servers;
    QString folder;

public:
    explicit TestMirrorList(const QString& folder);
    ~TestMirrorList();

    // A started server for the files below rootDir, owned by this object; nullptr when it
    // could not listen.
    TestHttpServer* startServer(const QString& rootDir);
    // The address of the mirror folder on server.
    QString url(const TestHttpServer* server) const;
    // Appends a mirror on server that tolerates `retries` errors before it is removed.
    void add(const QString& name, const TestHttpServer* server, int retries = 2);
    // Seeds the process-wide generator so that the next choice among all mirrors, all idle,
    // falls on the one at index; later choices stay random.
    void seedFirstChoice(int index) const;

    QNetworkAccessManager manager;
    Mirrors mirrors;
};

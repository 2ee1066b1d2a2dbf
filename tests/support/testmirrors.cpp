#include "testmirrors.h"

#include "testhttpserver.h"

TestMirrors::TestMirrors(const QString& folder)
    : folder(folder)
    , mirrors(nullptr)
{
}

TestMirrors::~TestMirrors() = default;

TestHttpServer* TestMirrors::startServer(const QString& rootDir)
{
    auto server = std::make_unique<TestHttpServer>(rootDir);
    if (!server->start())
        return nullptr;
    servers.push_back(std::move(server));
    return servers.back().get();
}

QString TestMirrors::url(const TestHttpServer* server) const
{
    return server->url() + folder;
}

void TestMirrors::add(const QString& name, const TestHttpServer* server, int retries)
{
    FTPSiteAccessData mirror;
    mirror.name = name;
    mirror.url = url(server);
    mirror.retries = retries;
    mirrors.mirrorList.append(mirror);
}

#include "testmirrorlist.h"

#include "randomgenerator.h"
#include "testhttpserver.h"

TestMirrorList::TestMirrorList(const QString& folder)
    : folder(folder)
    , mirrors(nullptr)
{
}

TestMirrorList::~TestMirrorList() = default;

TestHttpServer* TestMirrorList::startServer(const QString& rootDir)
{
    auto server = std::make_unique<TestHttpServer>(rootDir);
    if (!server->start())
        return nullptr;
    servers.push_back(std::move(server));
    return servers.back().get();
}

QString TestMirrorList::url(const TestHttpServer* server) const
{
    return server->url() + folder;
}

void TestMirrorList::add(const QString& name, const TestHttpServer* server, int retries)
{
    FTPSiteAccessData mirror;
    mirror.name = name;
    mirror.url = url(server);
    mirror.retries = retries;
    mirrors.mirrorList.append(mirror);
}

void TestMirrorList::seedFirstChoice(int index) const
{
    const int idle = int(mirrors.mirrorList.size());
    quint32 seed = 1;
    for (;; ++seed) {
        RandomGenerator::seed(seed);
        if (RandomGenerator::next() % idle == index)
            break;
    }
    RandomGenerator::seed(seed);
}

// The banner reply of the update server: one datagram of arbitrary bytes.
#include "banner.h"
#include "fuzzscratch.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    FuzzScratch::initialize(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray datagram(reinterpret_cast<const char*>(data), qsizetype(size));
    QString bannerUrl, clickUrl;
    if (Banner::parseReply(datagram, &bannerUrl, &clickUrl)
        && bannerUrl.size() + clickUrl.size() + 1 != datagram.size())
        abort();
    return 0;
}

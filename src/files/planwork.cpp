#include "planwork.h"

#include "filespecifications.h"

#include <QHash>

namespace {
// Per byte, relative to downloading it.
constexpr double hashCost = 0.1;
constexpr double copyCost = 0.1;
constexpr double unpackCost = 0.2;
// Per file, in bytes downloaded: a request's round trips, a journal entry synced to disk, an
// unlink.
constexpr double requestCost = 64 * 1024;
constexpr double installCost = 64 * 1024;
constexpr double deleteCost = 16 * 1024;
} // namespace

double PlanWork::download(const FileDownloadSpecification& file)
{
    if (file.hasDelta())
        return requestCost + double(file.deltaSize) + double(file.size) * (copyCost + hashCost);
    return requestCost + double(file.size) * (1.0 + hashCost);
}

double PlanWork::applyShare(const FileDownloadSpecification& file)
{
    return double(file.size) * (copyCost + hashCost) / download(file);
}

double PlanWork::checkShare(quint64 size)
{
    const double hashing = double(size) * hashCost;
    return hashing / (requestCost + double(size) + hashing);
}

double PlanWork::replace(const FileReplaceSpecification& file, quint64 packedSize)
{
    if (file.hasUnzip())
        return installCost + double(packedSize) * unpackCost
            + double(file.unzippedSize) * (copyCost + hashCost);
    return installCost + double(packedSize) * copyCost;
}

double PlanWork::deletion()
{
    return deleteCost;
}

PlanWork::Shares PlanWork::shares(const FileSpecifications& plan)
{
    QHash<QString, quint64> downloaded;
    double download = 0.0;
    for (const FileDownloadSpecification& file : plan.downloadList) {
        downloaded.insert(file.fileName, file.size);
        download += PlanWork::download(file);
    }
    // A file left complete by an interrupted run is not downloaded again; its size is unknown
    // here, and copying it is a small part of the work anyway.
    double replace = 0.0;
    for (const FileReplaceSpecification& file : plan.replaceList)
        replace += PlanWork::replace(file, downloaded.value(file.fileName));
    // The replacement adds the old copies of the files it replaces to the delete list.
    const double deletion = double(plan.deleteList.size() + plan.replaceList.size()) * deleteCost;
    const double total = download + replace + deletion;
    if (total <= 0.0)
        return { 1.0 / 3, 1.0 / 3, 1.0 / 3 };
    return { download / total, replace / total, deletion / total };
}

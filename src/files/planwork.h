#pragma once

#include "filedownloadspecification.h"
#include "filereplacespecification.h"

#include <QtGlobal>

struct FileSpecifications;

// How long the steps of an update plan take, relative to each other, in units of the time one
// byte takes to download: the weights that make the progress bar move with the work rather than
// with the number of steps or files. The figures are rough throughput ratios of a typical
// machine on a broadband line (hashing and local copies are many times faster than the network;
// every file costs a round trip or a synced journal entry however small it is); they only need
// to be right in their order of magnitude. Pure arithmetic, no file system access.
class PlanWork
{
public:
    // Downloading a file and checking it; for a file with a delta, downloading the delta and
    // writing and checking the file it makes.
    static double download(const FileDownloadSpecification& file);
    // The share of a file's download task that its check takes.
    static double checkShare(quint64 size);
    // The share of a delta's download task that applying it and checking the result take.
    static double applyShare(const FileDownloadSpecification& file);
    // Putting one file in place; packedSize is what was downloaded for it.
    static double replace(const FileReplaceSpecification& file, quint64 packedSize);
    // Deleting one file.
    static double deletion();

    // The shares of the download, replacement and deletion steps of a plan within the range
    // they have together; they add up to 1. A plan without any work gets equal shares.
    struct Shares
    {
        double download = 0.0;
        double replace = 0.0;
        double deletion = 0.0;
    };
    static Shares shares(const FileSpecifications& plan);
};

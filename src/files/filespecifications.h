#pragma once

#include "filedownloadspecification.h"
#include "filereplacespecification.h"
#include "statcache.h"

#include <QList>
#include <QString>

// The update plan: what to fetch, what to add or replace, and which install-relative paths to
// delete. The replacement appends the "_old_" names of the files it replaced to deleteList.
struct FileSpecifications
{
    QList<FileDownloadSpecification> downloadList;
    QList<FileReplaceSpecification> replaceList;
    QList<QString> deleteList;
    // What the plan found on disk, for the next plan to trust.
    StatCache statCache;

    void clear();
};

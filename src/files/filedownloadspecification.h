#pragma once

#include <QString>

// One file of the plan to fetch from a mirror: remote path section + "/" + fileName, stored
// in the session directory as fileName. An empty md5 selects the signature check. A non-empty
// sha256 (from the release's file list) must match the downloaded bytes as well.
struct FileDownloadSpecification
{
    QString section;
    QString fileName;
    QString md5;
    quint64 size = 0;
    QString sha256;
};

#pragma once

#include <QString>

// One file of the plan to fetch from a mirror: remote path section + "/" + fileName, stored
// in the session directory as fileName. An empty md5 selects the signature check.
struct FileDownloadSpecification
{
    QString section;
    QString fileName;
    QString md5;
    quint64 size = 0;
};

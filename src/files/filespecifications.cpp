#include "filespecifications.h"

void FileSpecifications::clear()
{
    downloadList.clear();
    replaceList.clear();
    deleteList.clear();
    statCache.clear();
}

#pragma once

#include <QString>
#include <QtGlobal>

// Rebuilds a file from a zstd delta made with its previous version as the reference prefix
// ("zstd --patch-from"). Memory stays bounded whatever the file's size: the reference is mapped
// read-only, the delta streamed in small blocks, and the output file, sized to resultSize
// first, is mapped and decompressed into in place, so the decoder needs no window buffer of
// its own (windows up to 2 GiB are accepted). Safe on any thread.
class DeltaApplier
{
public:
    // Writes outputPath, which must then hold exactly resultSize bytes made of one complete
    // frame of deltaPath; false with a reason in problem otherwise, the output removed.
    static bool apply(const QString& referencePath, const QString& deltaPath,
        const QString& outputPath, qint64 resultSize, QString& problem);
};

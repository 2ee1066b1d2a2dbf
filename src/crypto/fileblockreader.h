#pragma once

#include <QString>

#include <functional>

// Reads a file front to back in blocks of blockSize bytes, so that hashing or copying a file of
// any size needs one block of memory. Reads exactly as many bytes as the file held when it was
// opened. Stateless; safe on any thread.
class FileBlockReader
{
public:
    enum Result { Ok, OpenFailed, ReadFailed, Stopped };

    static constexpr qint64 blockSize = 1 << 20;

    // Called once per block, in order; returning false stops the reading (Result Stopped).
    using Consumer = std::function<bool(const char* data, qint64 length)>;

    static Result read(const QString& path, const Consumer& consume);
};

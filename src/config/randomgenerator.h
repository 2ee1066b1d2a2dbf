#pragma once

#include <QtGlobal>

// The process-wide random generator. The engine seeds it with the seconds since 1970 at every
// initialisation; the mirror choice and the changelog viewer draw from it (main thread only).
class RandomGenerator
{
public:
    static void seed(quint32 seed);
    // A uniformly distributed non-negative number.
    static int next();
};

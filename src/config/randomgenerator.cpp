#include "randomgenerator.h"

#include <QRandomGenerator>

#include <limits>

namespace {
QRandomGenerator& generator()
{
    static QRandomGenerator instance(1);
    return instance;
}
} // namespace

void RandomGenerator::seed(quint32 seed)
{
    generator().seed(seed);
}

int RandomGenerator::next()
{
    return int(generator().bounded(quint32(std::numeric_limits<int>::max()) + 1u));
}

#pragma once

#include <QSignalSpy>
#include <QStringList>

namespace TestSpies {

// The first argument of every signal the spy caught, as text: the log of a message or error
// signal, in order.
QStringList texts(const QSignalSpy& spy);

} // namespace TestSpies

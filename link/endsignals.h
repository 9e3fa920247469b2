#pragma once

#include <QSocketNotifier>
#include <memory>

namespace zfuse {

// Catches SIGTERM, SIGINT and SIGHUP from now on: a signal only writes a byte into a pipe
// that a later event loop watches, so it can never kill the program half-way (with its
// ports open and their lock files left). Unblocks the three, so that a signal already
// waiting when the program started is taken now. Called first thing in main; a second
// call does nothing.
void catchEndSignals();

// Whether one of the three arrived since catchEndSignals.
bool endSignalArrived();

// While the returned object lives, SIGTERM, SIGINT and SIGHUP make the running event
// loop quit in its own time, so that every ordinary end closes the ports and removes
// their lock files. A signal that arrived before (after catchEndSignals) makes the next
// event loop quit as soon as it runs.
std::unique_ptr<QSocketNotifier> quitOnEndSignals();

}  // namespace zfuse

#pragma once

#include <QSocketNotifier>
#include <memory>

namespace zfuse {

// While the returned object lives, SIGTERM, SIGINT and SIGHUP make the running event
// loop quit in its own time (the signal only writes a byte into a pipe the event loop
// watches), so that every ordinary end closes the ports and removes their lock files.
std::unique_ptr<QSocketNotifier> quitOnEndSignals();

}  // namespace zfuse

#include "link/endsignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>

namespace zfuse {

namespace {
// The pipe through which a signal reaches the event loop.
int signalPipe[2] = {-1, -1};

void onEndSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const auto n = ::write(signalPipe[1], &byte, 1);
}
}  // namespace

std::unique_ptr<QSocketNotifier> quitOnEndSignals() {
  if (signalPipe[0] < 0 && ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    signalPipe[0] = signalPipe[1] = -1;
    return nullptr;
  }
  auto notifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
  QObject::connect(notifier.get(), &QSocketNotifier::activated, [] {
    char drain[16];
    while (::read(signalPipe[0], drain, sizeof drain) > 0) {
    }
    QCoreApplication::quit();
  });
  struct sigaction action {};
  action.sa_handler = onEndSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaction(sig, &action, nullptr);
  return notifier;
}

}  // namespace zfuse

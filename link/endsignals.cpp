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
volatile std::sig_atomic_t arrived = 0;

void onEndSignal(int) {
  arrived = 1;
  const char byte = 1;
  [[maybe_unused]] const auto n = ::write(signalPipe[1], &byte, 1);
}

constexpr int kEndSignals[] = {SIGTERM, SIGINT, SIGHUP};
}  // namespace

void catchEndSignals() {
  if (signalPipe[0] >= 0) return;
  if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    signalPipe[0] = signalPipe[1] = -1;
    return;
  }
  struct sigaction action {};
  action.sa_handler = onEndSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigset_t set;
  sigemptyset(&set);
  for (int sig : kEndSignals) {
    sigaction(sig, &action, nullptr);
    sigaddset(&set, sig);
  }
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

bool endSignalArrived() {
  return arrived != 0;
}

std::unique_ptr<QSocketNotifier> quitOnEndSignals() {
  catchEndSignals();
  if (signalPipe[0] < 0) return nullptr;
  auto notifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
  QObject::connect(notifier.get(), &QSocketNotifier::activated, [] {
    char drain[16];
    while (::read(signalPipe[0], drain, sizeof drain) > 0) {
    }
    QCoreApplication::quit();
  });
  return notifier;
}

}  // namespace zfuse

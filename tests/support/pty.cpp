#include "tests/support/pty.h"

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QSysInfo>
#include <stdexcept>
#include <thread>

#include "link/portnames.h"

namespace zfuse::test {

PtyPair::PtyPair() {
  char name[256] = {};
  if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
    throw std::runtime_error("openpty failed");
  }
  slavePath_ = name;
}

PtyPair::~PtyPair() {
  if (master_ >= 0) ::close(master_);
  if (slave_ >= 0) ::close(slave_);
}

void PtyPair::linkAs(const std::string& comName) const {
  QDir().mkpath(portLinkFolder());
  const QString link = portLinkFolder() + QLatin1Char('/') + QString::fromStdString(comName);
  QFile::remove(link);
  if (!QFile::link(QString::fromStdString(slavePath_), link)) {
    throw std::runtime_error("cannot create port link");
  }
}

void PtyPair::send(const std::vector<uint8_t>& bytes) const {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
    if (n <= 0) throw std::runtime_error("write to pseudo-terminal failed");
    done += static_cast<std::size_t>(n);
  }
}

void PtyPair::sendPaced(const std::vector<uint8_t>& bytes) const {
  auto due = std::chrono::steady_clock::now();
  for (uint8_t b : bytes) {
    std::this_thread::sleep_until(due);
    send({b});
    due += std::chrono::microseconds(1042);
  }
}

std::vector<uint8_t> PtyPair::receive(std::chrono::milliseconds quiet,
                                      std::chrono::milliseconds limit) const {
  using Clock = std::chrono::steady_clock;
  std::vector<uint8_t> got;
  const auto end = Clock::now() + limit;
  while (Clock::now() < end) {
    pollfd p{master_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(quiet.count())) <= 0) {
      if (!got.empty()) break;
      continue;
    }
    uint8_t buffer[256];
    const ssize_t n = ::read(master_, buffer, sizeof buffer);
    if (n <= 0) break;
    got.insert(got.end(), buffer, buffer + n);
  }
  return got;
}

void PtyPair::hangUp() {
  ::close(master_);
  ::close(slave_);
  master_ = slave_ = -1;
}

long goneProcess() {
  const pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ::waitpid(gone, nullptr, 0);
  return gone;
}

std::string writeLockFile(const std::string& device, long pid, const char* program) {
  std::string name = device.substr(5);  // without "/dev/"
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  const std::string path = "/var/lock/LCK.." + name;
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::WriteOnly)) throw std::runtime_error("cannot write " + path);
  file.write(QByteArray::number(qint64(pid)) + '\n' + program + '\n' +
             QSysInfo::machineHostName().toUtf8() + "\n");
  return path;
}

void removePortLinks() {
  QDir(portLinkFolder()).removeRecursively();
  forgetPortLinks();
}

}  // namespace zfuse::test

#include "monitor/recording.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>

#include "link/localnames.h"
#include "link/safefile.h"
#include "monitor/statusmonitor.h"
#include "monitor/statusoutput.h"

namespace zfuse {

StatusRecording::StatusRecording(QObject* parent) : QObject(parent) {
  ticker_.setInterval(kTickPeriodMs);
  connect(&ticker_, &QTimer::timeout, this, [this] { tick(QDateTime::currentDateTime()); });
}

StatusRecording::~StatusRecording() {
  stop();
}

void StatusRecording::watch(StatusMonitor* monitor) {
  connect(monitor, &StatusMonitor::statusDecoded, this,
          [this](const StatusReading& r) { record(QDateTime::currentDateTime(), r); });
}

bool StatusRecording::start(const QString& path, CsvDialect dialect) {
  stop();
  error_ = Error::None;
  // The rules of a save: a regular file, also behind links; a device, FIFO, socket or
  // folder is never opened, let alone emptied.
  const QString target = wholeFileTarget(path);
  if (target.isEmpty()) {
    error_ = Error::NotAFile;
    return false;
  }
  // Opened without following a link and without blocking, then examined once more: what
  // the name stands for may have changed since it was looked at.
  const QByteArray name = localName(target);
  const int fd =
      ::open(name.constData(), O_WRONLY | O_CREAT | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) {
    error_ = (errno == ELOOP || errno == ENXIO) ? Error::NotAFile : Error::CannotOpen;
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    error_ = Error::NotAFile;
    return false;
  }
  if (::ftruncate(fd, 0) != 0) {
    ::close(fd);
    error_ = Error::CannotOpen;
    return false;
  }
  fd_ = fd;
  path_ = target;
  dialect_ = dialect;
  telegramRows_ = 0;
  gapRows_ = 0;
  size_ = 0;
  inGap_ = false;
  lastTelegram_ = QDateTime();
  if (!writeRow(csvHeader(dialect_))) return false;
  if (!ticker_.isActive()) ticker_.start();
  emit activeChanged(true);
  return true;
}

void StatusRecording::stop() {
  ticker_.stop();
  if (fd_ < 0) return;
  ::fdatasync(fd_);
  ::close(fd_);
  fd_ = -1;
  emit activeChanged(false);
}

bool StatusRecording::stillNamed() const {
  struct stat held {
  }, named{};
  if (::fstat(fd_, &held) != 0) return false;
  const QByteArray name = localName(path_);
  if (::lstat(name.constData(), &named) != 0) return false;
  return held.st_dev == named.st_dev && held.st_ino == named.st_ino && held.st_nlink > 0;
}

void StatusRecording::record(const QDateTime& time, const StatusReading& reading) {
  if (fd_ < 0) return;
  if (writeRow(csvLine(time, portName_ ? portName_() : QString(), reading, dialect_))) {
    ++telegramRows_;
    lastTelegram_ = time;
    inGap_ = false;
  }
}

void StatusRecording::tick(const QDateTime& now) {
  if (fd_ < 0) return;
  // One gap row per gap; a recording started during silence begins with one.
  const bool stale = !lastTelegram_.isValid() || lastTelegram_.msecsTo(now) >= kGapAfterMs;
  if (stale && !inGap_) {
    if (!writeRow(csvGapLine(now, portName_ ? portName_() : QString(), dialect_))) return;
    ++gapRows_;
    inGap_ = true;
  }
  if (unsynced_) {
    unsynced_ = false;
    if (::fdatasync(fd_) != 0 && errno != EINVAL) {
      fail(Error::WriteFailed);
      return;
    }
  }
  // A file without its name takes every further row with it when it is closed.
  if (!stillNamed()) fail(Error::FileLost);
}

bool StatusRecording::writeRow(const QString& row) {
  // RFC 4180 ends every row with CR LF.
  const QByteArray bytes = row.toUtf8() + "\r\n";
  qsizetype done = 0;
  while (done < bytes.size()) {
    const ssize_t n =
        ::write(fd_, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // A row cut short is taken back, so the file ends with whole rows.
      if (done > 0 && ::ftruncate(fd_, size_) != 0) size_ += done;
      fail(Error::WriteFailed);
      return false;
    }
    done += n;
  }
  size_ += done;
  unsynced_ = true;
  return true;
}

void StatusRecording::fail(Error error) {
  stop();
  error_ = error;
  emit failed(error);
}

}  // namespace zfuse

#include "link/safefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSaveFile>
#include <cerrno>
#include <cstring>

#include "link/localnames.h"

namespace zfuse {

namespace {
// More links in a row than the kernel follows is a loop.
constexpr int kMaxLinks = 40;

bool isFolder(const QString& path) {
  struct stat st {};
  return ::stat(localName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The folder part of an absolute path, by its characters alone (the toolkit's path
// classes would spell a kept byte anew).
QString folderOf(const QString& path) {
  const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
  return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

// Sets `error`, when asked for, to the reason; returns false.
bool failWith(QString* error, const QString& reason) {
  if (error != nullptr) *error = reason;
  return false;
}

bool failWithErrno(QString* error) {
  return failWith(error, QString::fromLocal8Bit(std::strerror(errno)));
}

bool saveThrough(QSaveFile& file, const QByteArray& bytes, QString* error) {
  if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
    return failWith(error, file.errorString());
  }
  if (file.write(bytes) != bytes.size()) {
    const QString reason = file.errorString();
    file.cancelWriting();
    return failWith(error, reason);
  }
  if (!file.commit()) return failWith(error, file.errorString());
  return true;
}

// A name the toolkit cannot spell (bytes that are no UTF-8): the file is saved whole under
// a stand-in name in the same folder, reached through the folder's open descriptor, and
// then renamed to its own name, which replaces the old file in one step as well.
bool saveUnderStandIn(const QString& target, const QByteArray& bytes, QString* error) {
  const QByteArray path = localName(target);
  const qsizetype slash = path.lastIndexOf('/');
  if (slash < 0) return failWith(error, QStringLiteral("not a path"));
  const QByteArray folder = slash == 0 ? QByteArray("/") : path.left(slash);
  const QByteArray base = path.mid(slash + 1);
  const int dir = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return failWithErrno(error);
  const QString standIn =
      QStringLiteral(".zfuse-save-%1-%2")
          .arg(QCoreApplication::applicationPid())
          .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'));
  QSaveFile file(QStringLiteral("/proc/self/fd/%1/%2").arg(dir).arg(standIn));
  bool saved = saveThrough(file, bytes, error);
  if (saved) {
    // The old file's permissions stay, as a save under its own name keeps them.
    struct stat old {};
    if (::fstatat(dir, base.constData(), &old, 0) == 0) {
      ::fchmodat(dir, QFile::encodeName(standIn).constData(), old.st_mode & 07777, 0);
    }
    saved = ::renameat(dir, QFile::encodeName(standIn).constData(), dir, base.constData()) == 0;
    if (!saved) {
      failWithErrno(error);
      ::unlinkat(dir, QFile::encodeName(standIn).constData(), 0);
    }
  }
  ::close(dir);
  return saved;
}
}  // namespace

QString wholeFileTarget(const QString& path) {
  if (path.isEmpty()) return {};
  QString current = path;
  if (!current.startsWith(QLatin1Char('/'))) {
    char here[4096];
    if (::getcwd(here, sizeof here) == nullptr) return {};
    current = nameFromBytes(QByteArray(here)) + QLatin1Char('/') + current;
  }
  for (int hops = 0; hops <= kMaxLinks; ++hops) {
    struct stat st {};
    const QByteArray name = localName(current);
    if (::lstat(name.constData(), &st) != 0) {
      // A new name: its folder must exist (and be a folder).
      return isFolder(folderOf(current)) ? current : QString();
    }
    if (S_ISREG(st.st_mode)) return current;
    if (!S_ISLNK(st.st_mode)) return {};
    char target[4096];
    const ssize_t n = ::readlink(name.constData(), target, sizeof target - 1);
    if (n <= 0) return {};
    const QString next = nameFromBytes(QByteArray(target, static_cast<qsizetype>(n)));
    // A relative target counts from the link's folder, as the kernel takes it.
    current = QDir::cleanPath(
        next.startsWith(QLatin1Char('/')) ? next : folderOf(current) + QLatin1Char('/') + next);
  }
  return {};
}

bool saveFileWhole(const QString& path, const QByteArray& bytes, QString* error) {
  const QString target = wholeFileTarget(path);
  if (target.isEmpty()) {
    // A name that is not there has no folder to go into; anything else that is there is
    // no regular file.
    struct stat st {};
    if (::lstat(localName(path).constData(), &st) != 0) return failWithErrno(error);
    return failWith(error, QStringLiteral("not a regular file"));
  }
  if (!toolkitSpellsName(target)) return saveUnderStandIn(target, bytes, error);
  QSaveFile file(target);
  file.setDirectWriteFallback(true);
  return saveThrough(file, bytes, error);
}

}  // namespace zfuse

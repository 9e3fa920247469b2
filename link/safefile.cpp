#include "link/safefile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace zfuse {

namespace {
// More links in a row than the kernel follows is a loop.
constexpr int kMaxLinks = 40;
}  // namespace

QString wholeFileTarget(const QString& path) {
  if (path.isEmpty()) return {};
  QString current = QFileInfo(path).absoluteFilePath();
  for (int hops = 0; hops <= kMaxLinks; ++hops) {
    struct stat st {};
    const QByteArray name = QFile::encodeName(current);
    if (::lstat(name.constData(), &st) != 0) {
      // A new name: its folder must exist (and be a folder).
      const QFileInfo folder(QFileInfo(current).absolutePath());
      return folder.isDir() ? current : QString();
    }
    if (S_ISREG(st.st_mode)) return current;
    if (!S_ISLNK(st.st_mode)) return {};
    char target[4096];
    const ssize_t n = ::readlink(name.constData(), target, sizeof target - 1);
    if (n <= 0) return {};
    const QString next = QFile::decodeName(QByteArray(target, static_cast<qsizetype>(n)));
    // A relative target counts from the link's folder, as the kernel takes it.
    current = QDir::cleanPath(QDir(QFileInfo(current).absolutePath()).absoluteFilePath(next));
  }
  return {};
}

bool saveFileWhole(const QString& path, const QByteArray& bytes) {
  const QString target = wholeFileTarget(path);
  if (target.isEmpty()) return false;
  QSaveFile file(target);
  file.setDirectWriteFallback(true);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return false;
  if (file.write(bytes) != bytes.size()) {
    file.cancelWriting();
    return false;
  }
  return file.commit();
}

}  // namespace zfuse

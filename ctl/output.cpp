#include "ctl/output.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "ctl/options.h"

namespace zfuse::ctl {
namespace {
// The error of the first failed write or flush, 0 while there was none.
int failure = 0;

bool fail(int error) {
  if (failure == 0) failure = error != 0 ? error : EIO;
  return false;
}
}  // namespace

bool writeOut(const QByteArray& bytes) {
  if (failure != 0) return false;
  if (bytes.isEmpty()) return true;
  errno = 0;
  const std::size_t n =
      std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
  if (n != static_cast<std::size_t>(bytes.size())) return fail(errno);
  return true;
}

bool flushOut() {
  if (failure != 0) return false;
  errno = 0;
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) return fail(errno);
  return true;
}

bool outputFailed() {
  return failure != 0;
}

int outputExit() {
  if (failure == 0) return kSuccess;
  return failure == EPIPE ? kOutputClosed : kOutputFailed;
}

int finishOutput(int exit) {
  if (flushOut()) {
    // A file's blocks may be given out only when it is written to the disk.
    struct stat st {};
    if (::fstat(STDOUT_FILENO, &st) == 0 && S_ISREG(st.st_mode) && ::fsync(STDOUT_FILENO) != 0 &&
        errno != EINVAL && errno != EROFS) {
      fail(errno);
    }
  }
  if (failure == 0) return exit;
  if (failure != EPIPE) {
    std::fprintf(stderr, "zfusectl: standard output cannot be written: %s\n",
                 std::strerror(failure));
  }
  return std::max(exit, outputExit());
}

void writeText(FILE* stream, const QString& text) {
  const QByteArray bytes = text.toUtf8();
  if (stream == stdout) {
    writeOut(bytes);
  } else {
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
  }
}

}  // namespace zfuse::ctl

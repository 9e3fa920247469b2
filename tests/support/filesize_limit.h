#pragma once

#include <sys/resource.h>

#include <csignal>

namespace zfuse::test {

// A full file system, as far as this process can tell: while the object lives, a write
// past `bytes` in any file fails (short or with EFBIG) instead of raising SIGXFSZ.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &before_);
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit tiny = before_;
    tiny.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &tiny);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &before_);
    std::signal(SIGXFSZ, oldHandler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit before_{};
  void (*oldHandler_)(int) = nullptr;
};

}  // namespace zfuse::test

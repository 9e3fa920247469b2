// Whole-file saves: a file that may be written is written, even where the folder allows
// no temporary file beside it.

#include "link/safefile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace zfuse {
namespace {

TEST(SafeFile, WritableFileInAReadOnlyFolderIsWrittenInPlace) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
  QTemporaryDir top;
  const QString folder = top.path() + "/locked";
  ASSERT_TRUE(QDir().mkdir(folder));
  const QString file = folder + "/config.txt";
  {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("old");
  }
  ::chmod(QFile::encodeName(top.path()).constData(), 0755);
  ::chmod(QFile::encodeName(folder).constData(), 0555);
  ::chmod(QFile::encodeName(file).constData(), 0666);
  // As a user without root's powers, who cannot make a temporary file beside it.
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
    ::_exit(saveFileWhole(file, "new contents") ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  QFile f(file);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), "new contents");
  EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList{"config.txt"});
}

}  // namespace
}  // namespace zfuse

// File names are the bytes given: a name that is no UTF-8 opens and saves that file and no
// other, and comes back as the same bytes.

#include "link/localnames.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <vector>

#include "link/safefile.h"

namespace zfuse {
namespace {

struct Name {
  const char* what;
  QByteArray bytes;
  int keptBytes;  // bytes outside valid UTF-8
};

TEST(LocalNames, EveryByteStringComesBackAsItWas) {
  const Name names[] = {
      {"ASCII", "plain.txt", 0},
      {"UTF-8",
       "Gr\xc3\xb6\xc3\x9f"
       "e \xf0\x9f\x98\x80.txt",
       0},
      {"U+FFFD written out", "a\xef\xbf\xbd.txt", 0},
      {"a lone high byte", "a\xff.txt", 1},
      {"Latin-1",
       "Gr\xf6\xdf"
       "e.txt",
       2},
      {"overlong slash",
       "a\xc0\xaf"
       "b",
       2},
      {"encoded surrogate", "\xed\xa0\x80", 3},
      {"above U+10FFFF", "\xf4\x90\x80\x80", 4},
      {"cut at the end", "x\xe2\x82", 2},
      {"continuation bytes alone", "\x80\xbf", 2},
      // U+4A492 is the surrogate pair D8E9 DC92, whose second half looks like a kept 0x92.
      {"a character above U+FFFF before a stray byte",
       "\xf1\x8a\x92\x92\x9e"
       "y",
       1},
  };
  for (const Name& n : names) {
    const QString name = nameFromBytes(n.bytes);
    EXPECT_EQ(localName(name), n.bytes) << n.what;
    EXPECT_EQ(printableName(name).count(QLatin1String("\\x")), n.keptBytes) << n.what;
    EXPECT_EQ(toolkitSpellsName(name), n.keptBytes == 0) << n.what;
  }
  // The two names the toolkit would both give as "a\uFFFD.txt" stay apart.
  EXPECT_NE(nameFromBytes("a\xff.txt"), nameFromBytes("a\xef\xbf\xbd.txt"));
  EXPECT_EQ(printableName(nameFromBytes("a\xff.txt")), QStringLiteral("a\\xff.txt"));
}

QByteArray contentOf(const QByteArray& path) {
  const int fd = ::open(path.constData(), O_RDONLY);
  if (fd < 0) return "(missing)";
  char buffer[256];
  const ssize_t n = ::read(fd, buffer, sizeof buffer);
  ::close(fd);
  return QByteArray(buffer, n > 0 ? static_cast<qsizetype>(n) : 0);
}

TEST(LocalNames, SavingANameThatIsNoUtf8ReplacesThatFileOnly) {
  QTemporaryDir dir;
  const QByteArray folder = QFile::encodeName(dir.path());
  const QByteArray mine = folder + "/a\xff.txt", other = folder + "/a\xef\xbf\xbd.txt";
  for (const QByteArray& path : {mine, other}) {
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT, 0640);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "old", 3), 3);
    ::close(fd);
  }
  ASSERT_TRUE(saveFileWhole(nameFromBytes(mine), "new"));
  EXPECT_EQ(contentOf(mine), "new");
  EXPECT_EQ(contentOf(other), "old");
  struct stat st {};
  ASSERT_EQ(::stat(mine.constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);  // the old file's permissions stay
  // A new file of such a name, and nothing else left in the folder.
  ASSERT_TRUE(saveFileWhole(nameFromBytes(folder + "/b\xfe"), "fresh"));
  EXPECT_EQ(contentOf(folder + "/b\xfe"), "fresh");
  // The toolkit cannot list such names: the folder is read, and emptied, by its bytes.
  std::vector<QByteArray> left;
  if (DIR* d = ::opendir(folder.constData())) {
    while (const dirent* e = ::readdir(d)) {
      if (e->d_name[0] != '.' || (e->d_name[1] != '\0' && e->d_name[1] != '.')) {
        left.emplace_back(e->d_name);
      }
    }
    ::closedir(d);
  }
  EXPECT_EQ(left.size(), 3u);
  for (const QByteArray& name : left) ::unlink((folder + '/' + name).constData());
}

}  // namespace
}  // namespace zfuse

// Saving and loading configuration files through both dialogs, in-process; the file
// dialogs and the error box are answered through their seams.

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <cstring>

#include "app/zokm32.h"
#include "config/deviceconfig.h"
#include "dialogs/parameter.h"
#include "dialogs/parameter2.h"
#include "monitor/statustelegram.h"
#include "tests/support/dialog_fixture.h"
#include "tests/support/filesize_limit.h"
#include "windowkit/modal.h"

namespace zfuse {
namespace {

const char* const kStandardDefaults =
    "config\r\n88,88,D6,00,00;\r\n02,80,08,C0;\r\nAE081DDD12F256\r\n";
const char* const kZokxDefaults = "config\r\nAA,AA,D6,07;\r\nAA,C0;\r\nAE081DDD12F256\r\n";

class FileDialogs : public test::DialogFixture {
 protected:
  void SetUp() override {
    DialogFixture::SetUp();
    Modal::fileAnswer = [this](const FileQuestion& q) {
      questions.push_back(q);
      return answer;
    };
    Modal::errorSeen = [this](const QString& text) { errors << text; };
  }
  void TearDown() override {
    Modal::fileAnswer = nullptr;
    Modal::errorSeen = nullptr;
    DialogFixture::TearDown();
  }
  ConfigDialog* dialog() override { return shown; }

  void openDialog(uint8_t model) {
    ASSERT_TRUE(waitFor([] { return Form1->portOpen(); }));
    Form1->modelFlags().set(model);
    Form1->Button1Click();
    shown = model == kTypeStandard ? static_cast<ConfigDialog*>(para) : parameter_zokx;
  }
  QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
  void save(const QString& file) {
    answer = file;
    dialog()->speichernClick();
  }
  void load(const QString& file) {
    answer = file;
    dialog()->oeffnenClick();
  }
  void load(const QString& file, const QByteArray& content) {
    writeFile(file, content);
    load(file);
  }
  static void writeFile(const QString& file, const QByteArray& content) {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(content);
  }
  static QByteArray contentOf(const QString& file) {
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
  }
  void expectLoaded() {
    EXPECT_EQ(status(), "Datei korrekt eingelesen");
    EXPECT_EQ(statusColour(), QColor(Qt::black));
    EXPECT_TRUE(label("status")->isVisible());
    EXPECT_TRUE(dialog()->Timer3->isActive());
    EXPECT_EQ(dialog()->Timer3->interval(), 5000);
  }

  QTemporaryDir dir;
  QString answer;
  std::vector<FileQuestion> questions;
  QStringList errors;
  ConfigDialog* shown = nullptr;
};

TEST_F(FileDialogs, FactorySettingsSaveAsTheExampleFiles) {
  openDialog(kTypeStandard);
  click("Button3");
  save(path("standard"));
  EXPECT_EQ(contentOf(path("standard")), kStandardDefaults);
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_EQ(questions[0].kind, FileQuestion::Save);
  EXPECT_EQ(questions[0].filters, (QStringList{"Text files (*.txt)", "All files (*.*)"}));
  EXPECT_EQ(questions[0].defaultSuffix, "txt");
  // A save says so, black, and the message goes with the clean-up tick.
  EXPECT_EQ(status(), "Datei gespeichert");
  EXPECT_EQ(statusColour(), QColor(Qt::black));
  EXPECT_TRUE(dialog()->Timer3->isActive());
  dialog()->Timer3Timer();
  EXPECT_EQ(status(), "");
  para->close();

  openDialog(kType4ch10A);
  click("Button3");
  save(path("variant.txt"));
  EXPECT_EQ(contentOf(path("variant.txt")), kZokxDefaults);
}

TEST_F(FileDialogs, StandardRoundTripRestoresEveryControl) {
  openDialog(kTypeStandard);
  const std::vector<std::function<void()>> states = {
      [&] { click("Button3"); },
      [&] {
        choose("k1_sel", 0);  // OFF: empty time list, written as 0
        choose("k2_sel", 2);
        choose("k2_time", 2);
        choose("k3_sel", 1);
        choose("k3_time", 3);
        choose("k4_sel", 7);
        choose("pgood_sel_", 40);
        for (const char* b : {"port1_byte1_01", "port1_byte1_80", "port1_byte2_02",
                              "port2_byte1_10", "port2_byte2_01", "programmieren"}) {
          box(b)->setChecked(true);
        }
      },
      [&] {
        for (const char* l : {"k1_sel", "k2_sel", "k3_sel", "k4_sel"}) choose(l, 4);
        choose("k4_time", 0);
        choose("pgood_sel_", 0);
        for (QCheckBox* b : para->findChildren<QCheckBox*>()) {
          if (b->objectName() != "loeschen") b->setChecked(true);
        }
      },
  };
  for (std::size_t i = 0; i < states.size(); ++i) {
    states[i]();
    const ParameterSet saved = para->parameterSet();
    save(path("round.txt"));
    para->close();
    openDialog(kTypeStandard);
    load(path("round.txt"));
    expectLoaded();
    const ParameterSet loaded = para->parameterSet();
    EXPECT_EQ(loaded.current_index, saved.current_index) << i;
    EXPECT_EQ(loaded.time_index, saved.time_index) << i;
    EXPECT_EQ(loaded.pgood_index, saved.pgood_index) << i;
    EXPECT_EQ(loaded.port1_byte1, saved.port1_byte1) << i;
    EXPECT_EQ(loaded.port1_byte2, saved.port1_byte2) << i;
    EXPECT_EQ(loaded.port2_byte1, saved.port2_byte1) << i;
    EXPECT_EQ(loaded.port2_byte2, saved.port2_byte2) << i;
  }
  EXPECT_EQ(contentOf(path("round.txt")).split('\n')[1], "44,44,C8,11,01;\r");
}

TEST_F(FileDialogs, ZokxRoundTripRestoresEveryControl) {
  for (const uint8_t model : {kType4ch10A, kType2ch6A}) {
    openDialog(model);
    click("Button3");
    choose("k1_sel", 3);
    choose("k2_sel", 0);
    choose("abschaltzeit", 8);
    choose("pgood_sel_", 27);
    for (const char* b : {"port1_byte1_01", "port1_byte1_02", "port1_byte2_40"}) {
      box(b)->setChecked(!box(b)->isChecked());
    }
    const ZokxParameterSet saved = parameter_zokx->parameterSet();
    save(path("variant.txt"));
    parameter_zokx->close();
    openDialog(model);
    load(path("variant.txt"));
    expectLoaded();
    const ZokxParameterSet loaded = parameter_zokx->parameterSet();
    EXPECT_EQ(loaded.current_index, saved.current_index);
    EXPECT_EQ(loaded.pgood_index, saved.pgood_index);
    EXPECT_EQ(loaded.switch_off_index, saved.switch_off_index);
    EXPECT_EQ(loaded.port1_byte1, saved.port1_byte1);
    EXPECT_EQ(loaded.port1_byte2, saved.port1_byte2);
    parameter_zokx->close();
  }
}

TEST_F(FileDialogs, FailedLoadClearsTheFuseVariantDialogOnly) {
  openDialog(kType4ch10A);
  click("Button3");
  load(path("standard.txt"), kStandardDefaults);
  EXPECT_EQ(status(), "Datei fehlerhaft C12");
  EXPECT_EQ(statusColour(), QColor(Qt::red));
  EXPECT_TRUE(dialog()->Timer3->isActive());
  for (const char* l : {"k1_sel", "k4_sel", "pgood_sel_", "abschaltzeit"}) {
    EXPECT_EQ(list(l)->currentIndex(), -1) << l;
  }
  EXPECT_EQ(parameter_zokx->parameterSet().port1_byte1, 0);
  EXPECT_EQ(parameter_zokx->parameterSet().port1_byte2, 0);
  // A bad first separator with the later fields right: the dialog is still cleared.
  load(path("sep.txt"), "config\r\nAA;AA,D6,07;\r\nAA,C0;\r\nAE081DDD12F256\r\n");
  EXPECT_EQ(status(), "Datei fehlerhaft C1");
  EXPECT_EQ(list("k3_sel")->currentIndex(), -1);
  parameter_zokx->close();

  openDialog(kTypeStandard);
  click("Button3");
  const ParameterSet before = para->parameterSet();
  load(path("variant.txt"), kZokxDefaults);
  EXPECT_EQ(status(), "Datei fehlerhaft C11");
  EXPECT_EQ(para->parameterSet().current_index, before.current_index);
  EXPECT_EQ(para->parameterSet().port2_byte2, before.port2_byte2);
  // The standard dialog keeps what a failing file set before its bad check.
  load(path("sep.txt"), "config\r\n88;21,D6,00,10;\r\n02,80,08,C0;\r\nAE081DDD12F256\r\n");
  EXPECT_EQ(status(), "Datei fehlerhaft C1");
  EXPECT_EQ(list("k1_sel")->currentText(), "8");
  EXPECT_EQ(list("k3_sel")->currentText(), "1");
  EXPECT_EQ(list("k4_sel")->currentText(), "2");
  EXPECT_EQ(list("k4_time")->currentText(), "0,2");
}

TEST_F(FileDialogs, StandardTimeListsRebuiltFromTheLoadedCurrents) {
  openDialog(kTypeStandard);
  // Channel 1 at 5 A with time digit 3, channel 2 at 6 A with digit 7, channel 3 at 1 A
  // with digit 4, channel 4 at 2 A with digit 9.
  load(path("times.txt"), "config\r\n65,21,D6,73,94;\r\n00,00,00,00;\r\nAE081DDD12F256\r\n");
  expectLoaded();
  EXPECT_EQ(items("k1_time"), QStringList{"0,1"});
  EXPECT_EQ(list("k1_time")->currentIndex(), -1);    // position 3 is beyond the list
  EXPECT_EQ(list("k2_time")->currentText(), "0,1");  // digit 7 is not applied
  EXPECT_EQ(list("k3_time")->currentText(), "1,5");
  EXPECT_EQ(items("k4_time"), (QStringList{"0,1", "0,2", "0,5"}));
  EXPECT_EQ(list("k4_time")->currentIndex(), -1);  // no default for 1 to 4 A
}

TEST_F(FileDialogs, NonHexCharacterStopsTheLoadWithAnErrorBox) {
  openDialog(kType4ch10A);
  load(path("bad.txt"), "config\r\n21,43,D6,0Z;\r\nAA,C0;\r\nAE081DDD12F256\r\n");
  EXPECT_EQ(errors, QStringList{"'$0Z' ist kein gültiger Integerwert"});
  EXPECT_EQ(list("k1_sel")->currentText(), "1");
  EXPECT_EQ(list("k4_sel")->currentText(), "4");
  EXPECT_EQ(list("pgood_sel_")->currentText(), "21,4");
  EXPECT_EQ(list("abschaltzeit")->currentIndex(), -1);
  EXPECT_EQ(status(), "");
  EXPECT_FALSE(dialog()->Timer3->isActive());
}

TEST_F(FileDialogs, CancelledFileDialogs) {
  openDialog(kType4ch10A);
  click("Button2");  // incomplete: markers and the red message
  ASSERT_TRUE(label("error_k1")->isVisible());
  load(QString());  // cancelled: nothing changes
  EXPECT_EQ(status(), "Bitte alle Felder korrekt ausfüllen");
  EXPECT_TRUE(label("error_k1")->isVisible());
  EXPECT_FALSE(dialog()->Timer3->isActive());
  EXPECT_EQ(questions.back().kind, FileQuestion::Open);

  click("Button3");
  label("error_pg")->show();
  save(QString());  // cancelled after the first step
  EXPECT_EQ(status(), "");
  EXPECT_FALSE(label("error_pg")->isVisible());
  EXPECT_TRUE(QDir(dir.path()).isEmpty());
}

TEST_F(FileDialogs, IncompleteDialogIsNotSaved) {
  openDialog(kType4ch10A);
  choose("k1_sel", 2);
  save(path("never.txt"));
  EXPECT_TRUE(questions.empty());
  EXPECT_FALSE(QFile::exists(path("never.txt")));
  for (const char* m : {"error_k2", "error_k3", "error_k4", "error_pg", "ab_error"}) {
    EXPECT_TRUE(label(m)->isVisible()) << m;
  }
  EXPECT_FALSE(label("error_k1")->isVisible());
  EXPECT_EQ(status(), "Bitte alle Felder korrekt ausfüllen");
  EXPECT_EQ(statusColour(), QColor(Qt::red));
}

TEST_F(FileDialogs, MessagesInEnglish) {
  Form1->englischClick();
  openDialog(kTypeStandard);
  load(path("good.txt"), kStandardDefaults);
  EXPECT_EQ(status(), "read file correctly");
  load(path("bad.txt"), "Config\r\n");
  EXPECT_EQ(status(), "file error C13");
  save(dir.path() + "/missing/x.txt");
  EXPECT_EQ(status(), "could not save file");
}

TEST_F(FileDialogs, FailedSaveIsReportedAndKeepsTheOldFile) {
  openDialog(kTypeStandard);
  click("Button3");
  const QString old = path("old.txt");
  writeFile(old, "precious");
  const QString targets[] = {dir.path() + "/missing/x.txt", dir.path(), "/proc/version"};
  for (const QString& target : targets) {
    save(target);
    EXPECT_EQ(status(), "Datei konnte nicht gespeichert werden") << target.toStdString();
    EXPECT_EQ(statusColour(), QColor(Qt::red));
    EXPECT_TRUE(label("status")->isVisible());
  }
  EXPECT_FALSE(QFile::exists(dir.path() + "/missing"));

  // A full disk: the file size limit cuts the write short.
  {
    const test::FileSizeLimit full(10);
    save(old);
  }
  EXPECT_EQ(status(), "Datei konnte nicht gespeichert werden");
  EXPECT_EQ(contentOf(old), "precious");
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"old.txt"});  // no leftovers

  save(old);  // and with room again it is replaced whole
  EXPECT_EQ(contentOf(old), kStandardDefaults);
}

TEST_F(FileDialogs, SaveNeverReplacesWhatIsNotAFile) {
  openDialog(kTypeStandard);
  click("Button3");
  const QByteArray node = QFile::encodeName(path("node"));
  const QByteArray fifo = QFile::encodeName(path("fifo"));
  // A character device of the test's own (the numbers of /dev/null), never one in /dev.
  ASSERT_EQ(::mknod(node.constData(), S_IFCHR | 0666, makedev(1, 3)), 0);
  ASSERT_EQ(::mkfifo(fifo.constData(), 0666), 0);
  QFile::link(path("node"), path("to-node"));
  QFile::link(path("fifo"), path("to-fifo"));
  QFile::link(path("loop-a"), path("loop-b"));
  QFile::link(path("loop-b"), path("loop-a"));
  // A socket's name stays in the folder after its socket is closed.
  const QByteArray socketName = QFile::encodeName(path("socket"));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(static_cast<std::size_t>(socketName.size()), sizeof address.sun_path);
  std::memcpy(address.sun_path, socketName.constData(),
              static_cast<std::size_t>(socketName.size()));
  const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  ::close(listener);
  QFile::link(path("socket"), path("to-socket"));
  const QStringList before =
      QDir(dir.path())
          .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot | QDir::Hidden);
  for (const char* target :
       {"node", "fifo", "socket", "to-node", "to-fifo", "to-socket", "loop-a"}) {
    save(path(target));
    EXPECT_EQ(status(), "Datei konnte nicht gespeichert werden") << target;
    EXPECT_EQ(statusColour(), QColor(Qt::red)) << target;
  }
  struct stat st {};
  ASSERT_EQ(::lstat(node.constData(), &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  ASSERT_EQ(::lstat(fifo.constData(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  ASSERT_EQ(::lstat(socketName.constData(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
  EXPECT_EQ(QDir(dir.path())
                .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot | QDir::Hidden),
            before);  // nothing created, nothing replaced

  // A link to a regular file saves into that file and keeps the link.
  writeFile(path("real.txt"), "old");
  QFile::link("real.txt", path("to-real"));
  save(path("to-real"));
  EXPECT_EQ(status(), "Datei gespeichert");
  EXPECT_EQ(contentOf(path("real.txt")), kStandardDefaults);
  EXPECT_TRUE(QFileInfo(path("to-real")).isSymLink());
}

TEST_F(FileDialogs, HugeAndEndlessFilesFailTheLengthCheckPromptly) {
  openDialog(kType4ch10A);
  writeFile(path("huge.txt"), QByteArray(6 << 20, 'A'));
  QElapsedTimer clock;
  clock.start();
  load(path("huge.txt"));
  EXPECT_EQ(status(), "Datei fehlerhaft C14");
  load("/dev/zero");
  EXPECT_EQ(status(), "Datei fehlerhaft C14");
  EXPECT_LT(clock.elapsed(), 3000);
}

// Files pass between the dialogs and the command line both ways: what a dialog saves,
// zfusectl writes; what zfusectl reads, the dialog loads, showing what the core makes of
// the same file.
TEST_F(FileDialogs, FilesPassBetweenTheDialogsAndZfusectl) {
  const auto zfusectl = [](const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(ZFUSECTL_BINARY), args);
    EXPECT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
  };
  for (const uint8_t model : {kTypeStandard, kType2ch10A}) {
    SCOPED_TRACE(modelName(model));
    device->setModel(model);
    openDialog(model);
    click("Button3");
    choose("k2_sel", 3);
    choose("pgood_sel_", 2);
    save(path("from-dialog.txt"));
    zfusectl({"write", "--port", "COM1", path("from-dialog.txt")});

    zfusectl({"read", "--port", "COM1", "-o", path("from-zfusectl.txt")});
    EXPECT_EQ(contentOf(path("from-zfusectl.txt")), contentOf(path("from-dialog.txt")));
    click("Button3");
    load(path("from-zfusectl.txt"));
    expectLoaded();
    const FileVerdict core =
        examineFileFor(readFileLines(path("from-zfusectl.txt").toStdString()), model);
    ASSERT_EQ(core.result, FileVerdict::Good);
    if (model == kTypeStandard) {
      EXPECT_EQ(para->parameterSet(), core.config.standard);
    } else {
      EXPECT_EQ(parameter_zokx->parameterSet(), core.config.zokx);
    }
    dialog()->close();
  }
}

}  // namespace
}  // namespace zfuse

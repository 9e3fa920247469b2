// The port doctor of `zfuse --ports` on pseudo-terminals: each reason a port will not
// open that can be produced here, the advice for it, the adapters present, the fuse
// heard on a port, the report's lines and its exit code.

#include "monitor/portdoctor.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <memory>
#include <ostream>

#include "link/portnames.h"
#include "tests/support/pty.h"
#include "tools/devicesim.h"

namespace zfuse {
namespace {

// The text of one port's lines in a report, its wrapped lines joined again.
QString portText(const QString& report, const QString& com) {
  QStringList parts;
  bool inside = false;
  for (const QString& line : report.split('\n')) {
    if (line.startsWith(com + ' ')) {
      inside = true;
    } else if (!line.startsWith("       ")) {
      inside = false;
    }
    if (inside) parts << line;
  }
  return parts.join(' ').simplified();
}

// The report's lines fit an 80-column terminal, with no blank at their ends; only a
// single word too long for any line (a long path, with a command's " \" after it)
// stands out.
void expectFitsEightyColumns(const QString& report) {
  for (const QString& line : report.split('\n')) {
    QString words = line.trimmed();
    if (words.endsWith(" \\")) words.chop(2);
    EXPECT_TRUE(line.size() <= 80 || !words.contains(' ')) << line.toStdString();
    EXPECT_FALSE(line.endsWith(' ')) << line.toStdString();
  }
}

class PortDoctor : public ::testing::Test {
 protected:
  // No adapters are present unless a test makes them.
  void SetUp() override { qputenv("ZFUSE_DEV_ROOT", devRoot.path().toLocal8Bit()); }
  void TearDown() override {
    qunsetenv("ZFUSE_DEV_ROOT");
    test::removePortLinks();
    if (!lock.isEmpty()) QFile::remove(lock);
  }
  void lockFor(const test::PtyPair& line, qint64 pid, const char* program = "zfuse") {
    lock = QString::fromStdString(test::writeLockFile(line.slavePath(), pid, program));
  }
  static void link(const QString& com, const QString& target, const QString& folder = {}) {
    const QString ports = folder.isEmpty() ? portLinkFolder() : folder;
    QDir().mkpath(ports);
    QFile::remove(ports + '/' + com);
    ASSERT_TRUE(QFile::link(target, ports + '/' + com)) << com.toStdString();
  }
  // Every port leads to a device that is not there, so that no device of this machine is
  // opened.
  static void linkAllPortsNowhere(const QString& folder = {}) {
    for (int n = 1; n <= 11; ++n) link(QString("COM%1").arg(n), "/dev/zfuse-nowhere", folder);
  }
  static QString report(int* code, const PortDoctorOptions& options = {}) {
    QStringList lines;
    *code = reportPorts([&](const QString& line) { lines << line; }, options);
    return lines.join('\n') + '\n';
  }
  QTemporaryDir devRoot;
  QString lock;
};

// `zfuse --ports` as the unprivileged user nobody, with the port links in `config`.
QString runDoctorAsNobody(const QString& config, int* code) {
  QProcess doctor;
  doctor.start("runuser", {"-u", "nobody", "--", "env", "XDG_CONFIG_HOME=" + config,
                           "ZFUSE_DEV_ROOT=" + qEnvironmentVariable("ZFUSE_DEV_ROOT"), ZFUSE_BINARY,
                           "--ports"});
  if (!doctor.waitForFinished(10000)) {
    doctor.kill();
    doctor.waitForFinished();
    ADD_FAILURE() << "the doctor did not finish";
  }
  *code = doctor.exitCode();
  return QString::fromLocal8Bit(doctor.readAllStandardOutput());
}

bool canBecomeNobody() {
  return getuid() == 0 && QProcess::execute("runuser", {"-u", "nobody", "--", "true"}) == 0;
}

// A folder of port links that nobody may read and enter; returns the links' folder.
QString openToAll(const QTemporaryDir& config) {
  const auto mode =
      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther;
  QDir().mkpath(config.path() + "/zfuse/ports");
  for (const QString& d :
       {config.path(), config.path() + "/zfuse", config.path() + "/zfuse/ports"}) {
    QFile::setPermissions(d, mode);
  }
  return config.path() + "/zfuse/ports";
}

TEST_F(PortDoctor, OpenablePortThroughItsLink) {
  test::PtyPair line;
  line.linkAs("COM3");
  const PortDiagnosis d = diagnosePort("COM3");
  EXPECT_TRUE(d.openable);
  EXPECT_EQ(d.device.toStdString(), line.slavePath());
  EXPECT_TRUE(d.source.startsWith("link ")) << d.source.toStdString();
  EXPECT_EQ(d.verdict, "can be opened now");
  EXPECT_TRUE(portReportLine(d).startsWith("COM3   " + d.device));
}

// A link to a device that is not there: an absolute one asks for the adapter; a relative
// one resolves from the ports folder, which is rarely meant, so the verdict says so,
// names the whole path and offers an adapter's full path.
TEST_F(PortDoctor, DanglingLinkVerdicts) {
  const QString ports = portLinkFolder();
  const QString usb0 = devRoot.path() + "/ttyUSB0";
  const struct {
    const char* target;
    bool adapterPresent;
    QString verdict;
  } cases[] = {
      {"/dev/ttyUSB7", false,
       "link points to /dev/ttyUSB7, which does not exist: is the adapter plugged in?"},
      {"/dev/ttyUSB7", true,
       "link points to /dev/ttyUSB7, which does not exist: is the adapter plugged in? "
       "Present now: " +
           usb0},
      {"ttyUSB0", false,
       "the link is relative (ttyUSB0) and resolves to " + ports +
           "/ttyUSB0, which does not exist: link COM2 to the full path of your adapter once "
           "it is plugged in (none is now)"},
      {"../gone/ttyUSB9", true,
       "the link is relative (../gone/ttyUSB9) and resolves to " +
           QDir::cleanPath(ports + "/../gone/ttyUSB9") +
           ", which does not exist: link COM2 to the full path of your adapter, e.g. " + usb0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.target);
    QFile::remove(usb0);
    if (c.adapterPresent) {
      QFile adapter(usb0);
      ASSERT_TRUE(adapter.open(QIODevice::WriteOnly));
    }
    link("COM2", c.target);
    const PortDiagnosis d = diagnosePort("COM2");
    EXPECT_FALSE(d.openable);
    EXPECT_EQ(d.verdict, c.verdict);
  }
}

TEST_F(PortDoctor, MissingStandardPortSaysHowToLink) {
  if (QFile::exists("/dev/ttyS10")) GTEST_SKIP() << "this machine has /dev/ttyS10";
  const PortDiagnosis d = diagnosePort("COM11");
  EXPECT_FALSE(d.openable);
  EXPECT_TRUE(d.source.startsWith("standard port")) << d.source.toStdString();
  EXPECT_TRUE(
      d.verdict.startsWith("missing: /dev/ttyS10 does not exist; link COM11 to your adapter"))
      << d.verdict.toStdString();
}

TEST_F(PortDoctor, LockOfALiveProcessNamesIt) {
  test::PtyPair line;
  line.linkAs("COM1");
  const pid_t holder = fork();
  if (holder == 0) {
    execlp("sleep", "sleep", "30", nullptr);
    _exit(1);
  }
  usleep(100000);  // until the child is "sleep"
  lockFor(line, holder, "sleep");
  const PortDiagnosis d = diagnosePort("COM1");
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  EXPECT_FALSE(d.openable);
  EXPECT_EQ(d.verdict.toStdString(), QString("busy: held by process %1 (sleep), lock file %2")
                                         .arg(holder)
                                         .arg(lock)
                                         .toStdString());
}

TEST_F(PortDoctor, StaleLockOfADeadProcessDoesNotBlock) {
  test::PtyPair line;
  line.linkAs("COM1");
  const auto gone = static_cast<pid_t>(test::goneProcess());
  lockFor(line, gone);
  const PortDiagnosis d = diagnosePort("COM1");
  EXPECT_TRUE(d.openable);
  EXPECT_EQ(d.verdict.toStdString(),
            QString("can be opened now (the stale lock file %1 of process %2, which is gone, is "
                    "removed on opening)")
                .arg(lock)
                .arg(gone)
                .toStdString());
}

// Joining a group is advised only where the device's group may read and write it; else
// the owner and the mode are named, and the way to let the user in.
struct DeviceAccess {
  const char* group;
  mode_t mode;
  const char* advice;  // DEVICE stands for the device's path
};
void PrintTo(const DeviceAccess& access, std::ostream* os) {
  *os << access.group << ' ' << std::oct << access.mode;
}
class PortDoctorPermission : public PortDoctor,
                             public ::testing::WithParamInterface<DeviceAccess> {};

TEST_P(PortDoctorPermission, DeniedForAnotherUserWithAdviceThatFits) {
  if (!canBecomeNobody()) GTEST_SKIP() << "needs root and the user nobody";
  const group* g = getgrnam(GetParam().group);
  if (!g) GTEST_SKIP() << "no group " << GetParam().group;
  test::PtyPair line;
  ASSERT_EQ(chown(line.slavePath().c_str(), 0, g->gr_gid), 0);
  ASSERT_EQ(chmod(line.slavePath().c_str(), GetParam().mode), 0);
  QTemporaryDir config;
  const QString ports = openToAll(config);
  linkAllPortsNowhere(ports);
  link("COM1", QString::fromStdString(line.slavePath()), ports);
  int code = -1;
  const QString report = runDoctorAsNobody(config.path(), &code);
  const QString com1 = portText(report, "COM1");
  const QString advice = QString(GetParam().advice).replace("DEVICE", line.slavePath().c_str());
  EXPECT_TRUE(com1.contains(advice)) << report.toStdString();
  EXPECT_EQ(com1.contains("add yourself"), advice.contains("add yourself"));
  EXPECT_TRUE(report.contains("0 of 11 ports can be opened now.")) << report.toStdString();
  EXPECT_EQ(code, 1);
  expectFitsEightyColumns(report);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, PortDoctorPermission,
    ::testing::Values(
        DeviceAccess{"dialout", 0660,
                     "permission denied: add yourself to the group dialout and log in again "
                     "(sudo usermod -aG dialout $USER)"},
        DeviceAccess{"root", 0600,
                     "permission denied: DEVICE belongs to root:root with mode 0600, which lets "
                     "no group of yours read and write it, so joining a group does not help; an "
                     "administrator can allow it with a udev rule"},
        // The terminal's own group may only write to it.
        DeviceAccess{"tty", 0620,
                     "permission denied: DEVICE belongs to root:tty with mode 0620, which lets "
                     "no group of yours read and write it"}),
    [](const auto& p) { return std::string(p.param.group); });

TEST_F(PortDoctor, PortsFolderThatCannotBeExaminedOpensNothing) {
  if (getuid() != 0) GTEST_SKIP() << "needs root to become another user";
  if (QProcess::execute("runuser", {"-u", "nobody", "--", "true"}) != 0) {
    GTEST_SKIP() << "cannot run as nobody here";
  }
  test::PtyPair line;
  QTemporaryDir config;  // root's, mode 0700: nobody cannot look inside
  QDir().mkpath(config.path() + "/zfuse/ports");
  QFile::link(QString::fromStdString(line.slavePath()), config.path() + "/zfuse/ports/COM1");
  QProcess doctor;
  doctor.start("runuser", {"-u", "nobody", "--", "env", "XDG_CONFIG_HOME=" + config.path(),
                           ZFUSE_BINARY, "--ports"});
  ASSERT_TRUE(doctor.waitForFinished(10000));
  const QString report = QString::fromLocal8Bit(doctor.readAllStandardOutput());
  for (int n = 1; n <= 11; ++n) {
    const QString port = portText(report, QString("COM%1").arg(n));
    EXPECT_TRUE(port.contains("cannot tell: the ports folder")) << report.toStdString();
    EXPECT_FALSE(port.contains("/dev/ttyS")) << port.toStdString();
  }
  EXPECT_EQ(doctor.exitCode(), 1);
}

// A relative link target starts from the link's folder, as the system resolves it.
TEST_F(PortDoctor, RelativeLinkIsTakenFromTheLinksFolder) {
  test::PtyPair line;
  QDir().mkpath(portLinkFolder());
  const QString relative = QDir(portLinkFolder()).relativeFilePath(line.slavePath().c_str());
  ASSERT_FALSE(relative.startsWith('/'));
  link("COM4", relative);
  EXPECT_EQ(systemPortPath("COM4").toStdString(), line.slavePath());
  const PortDiagnosis d = diagnosePort("COM4");
  EXPECT_TRUE(d.openable) << d.verdict.toStdString();
  EXPECT_EQ(d.device.toStdString(), line.slavePath());

  // One to a device that is gone names it by its whole path.
  link("COM5", "../gone/ttyUSB9");
  EXPECT_EQ(systemPortPath("COM5"), QDir::cleanPath(portLinkFolder() + "/../gone/ttyUSB9"));
}

TEST_F(PortDoctor, AdaptersAreListedWithTheirStableNames) {
  const QString root = devRoot.path();
  for (const char* name : {"ttyUSB10", "ttyUSB2", "ttyACM0", "ttyUSB0", "ttyS0"}) {
    QFile device(root + '/' + name);
    ASSERT_TRUE(device.open(QIODevice::WriteOnly));
  }
  const QString byId = root + "/serial/by-id";
  QDir().mkpath(byId);
  const QString ftdi = byId + "/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
  const QString arduino = byId + "/usb-Arduino__www.arduino.cc__0043_7543931353535-if00";
  ASSERT_TRUE(QFile::link("../../ttyUSB0", ftdi));
  ASSERT_TRUE(QFile::link("../../ttyACM0", arduino));

  const QList<SerialAdapter> adapters = serialAdapters();
  ASSERT_EQ(adapters.size(), 4);
  const QStringList order = {"ttyACM0", "ttyUSB0", "ttyUSB2", "ttyUSB10"};
  const QStringList stable = {arduino, ftdi, "", ""};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(adapters[i].device, root + '/' + order[i]);
    EXPECT_EQ(adapters[i].stableName, stable[i]) << order[i].toStdString();
  }

  // COM1 reaches an adapter by its kernel name, which a replug may change; the others lead
  // nowhere.
  linkAllPortsNowhere();
  link("COM1", root + "/ttyUSB0");
  int code = -1;
  PortDoctorOptions quiet;
  quiet.listen = false;
  const QString text = report(&code, quiet);
  // The advice for a port that leads nowhere names an adapter that is there and free.
  EXPECT_TRUE(portText(text, "COM2").endsWith("is the adapter plugged in? Present now: " + arduino))
      << text.toStdString();
  const QStringList lines = text.split('\n');
  const auto at = lines.indexOf("Serial adapters present:");
  ASSERT_GE(at, 0) << text.toStdString();
  const QString rest = lines.mid(at).join(' ').simplified();
  EXPECT_TRUE(rest.contains(root + "/ttyACM0 " + arduino + ", no port leads to it"))
      << rest.toStdString();
  EXPECT_TRUE(rest.contains(root + "/ttyUSB0 " + ftdi + ", COM1 leads to it"))
      << rest.toStdString();
  EXPECT_TRUE(rest.contains(root + "/ttyUSB2 (no stable name), no port leads to it"));
  // The links to make: by the stable name where there is one, on ports that lead nowhere,
  // and COM1 anew by the stable name.
  const QString links = portLinkFolder();
  const QString commands = QString(rest).remove(" \\");
  for (const QString& command :
       {"ln -sfn " + arduino + ' ' + links + "/COM2", "ln -sfn " + ftdi + ' ' + links + "/COM1",
        "ln -sfn " + root + "/ttyUSB2 " + links + "/COM3",
        "ln -sfn " + root + "/ttyUSB10 " + links + "/COM4"}) {
    EXPECT_TRUE(commands.contains(command)) << command.toStdString() << "\n" << text.toStdString();
  }
  EXPECT_EQ(code, 1);  // COM1 is no serial port, the others lead nowhere
  expectFitsEightyColumns(text);

  // Without a link, a missing standard port names an adapter too.
  if (!QFile::exists("/dev/ttyS10")) {
    QFile::remove(links + "/COM11");
    forgetPortLinks();  // a name that never was a link in this run
    EXPECT_TRUE(diagnosePort("COM11").verdict.startsWith(
        "missing: /dev/ttyS10 does not exist; link COM11 to your adapter, e.g. " + arduino));
  }
}

TEST(PortDoctorModels, NamesEachTypeByte) {
  const std::pair<int, const char*> models[] = {{0x11, "2-channel 6 A"}, {0x13, "2-channel 10 A"},
                                                {0x15, "standard"},      {0x17, "4-channel 10 A"},
                                                {0x19, "4-channel 6 A"}, {0x12, ""}};
  for (const auto& [type, name] : models) EXPECT_EQ(fuseModelName(type), name) << type;
}

// The doctor listens on every port that can be opened, all at once, and names the model
// of the fuse talking on it.
TEST_F(PortDoctor, ListeningNamesTheFuseOnEachPort) {
  using sim::DeviceSimulator;
  auto simulator = [](uint8_t model, unsigned faults) {
    DeviceSimulator::Options o;
    o.model = model;
    o.faults = faults;
    auto s = std::make_unique<DeviceSimulator>(o);
    EXPECT_TRUE(s->start());
    return s;
  };
  const auto talking = simulator(0x13, 0);
  const auto garbled = simulator(0x17, sim::kBadChecksum);
  test::PtyPair silent;
  linkAllPortsNowhere();
  link("COM2", QString::fromStdString(talking->slavePath()));
  link("COM3", QString::fromStdString(silent.slavePath()));
  link("COM4", QString::fromStdString(garbled->slavePath()));

  QElapsedTimer clock;
  clock.start();
  int code = -1;
  const QString text = report(&code);
  const qint64 elapsed = clock.elapsed();

  EXPECT_TRUE(portText(text, "COM2")
                  .endsWith("can be opened now; a fuse is talking on it: "
                            "2-channel 10 A"))
      << text.toStdString();
  // A lock left by a killed program on that pseudo-terminal may be named between the two.
  EXPECT_TRUE(portText(text, "COM3").contains("can be opened now")) << text.toStdString();
  EXPECT_TRUE(portText(text, "COM3")
                  .endsWith("but no fuse is talking on it (nothing arrived in 1.5 s): check the "
                            "cable and the fuse's supply"))
      << text.toStdString();
  EXPECT_TRUE(portText(text, "COM4").contains("can be opened now, but no fuse is talking on it: "))
      << text.toStdString();
  EXPECT_TRUE(portText(text, "COM4").contains("no valid status telegram, ")) << text.toStdString();
  EXPECT_TRUE(text.endsWith("3 of 11 ports can be opened now. A fuse is talking on COM2.\n"))
      << text.toStdString();
  EXPECT_EQ(code, 0);
  EXPECT_LT(elapsed, 2000);  // the two quiet ports were listened to at the same time
  expectFitsEightyColumns(text);
}

// `zfuse --ports` ends with 0 when a port can be opened, else with 1.
TEST_F(PortDoctor, ExitCodeSaysWhetherAPortCanBeOpened) {
  linkAllPortsNowhere();
  auto run = [] {
    QProcess doctor;
    doctor.start(ZFUSE_BINARY, {"--ports"});
    EXPECT_TRUE(doctor.waitForFinished(10000));
    return std::make_pair(doctor.exitCode(),
                          QString::fromLocal8Bit(doctor.readAllStandardOutput()));
  };
  const auto [none, noneReport] = run();
  EXPECT_EQ(none, 1) << noneReport.toStdString();
  EXPECT_TRUE(noneReport.endsWith("0 of 11 ports can be opened now.\n"))
      << noneReport.toStdString();
  test::PtyPair line;
  line.linkAs("COM6");
  const auto [one, oneReport] = run();
  EXPECT_EQ(one, 0) << oneReport.toStdString();
  EXPECT_TRUE(oneReport.endsWith("1 of 11 ports can be opened now. No fuse heard on them.\n"))
      << oneReport.toStdString();
}

}  // namespace
}  // namespace zfuse

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <thread>
#include <vector>

#include "link/connection.h"
#include "link/frameassembler.h"
#include "link/portlock.h"
#include "link/portnames.h"
#include "monitor/portadvice.h"
#include "monitor/portdoctor.h"
#include "monitor/statustelegram.h"

namespace zfuse {

using namespace doctor;

namespace {

constexpr int kIndent = 7;  // "COM11  "

// The words of `text` on lines of at most `width` columns, the first line indented by
// `first` spaces, the others by `indent`. A word longer than a line keeps a line of its
// own; a no-break space (as in "1.5 s") joins two words.
QStringList wrapped(const QString& text, int first, int indent, int width) {
  QStringList lines;
  QString line(first, QLatin1Char(' '));
  bool blank = true;
  for (const QString& word : text.split(QLatin1Char(' '))) {
    if (!blank && line.size() + 1 + word.size() > width) {
      while (line.endsWith(QLatin1Char(' '))) line.chop(1);
      lines << line;
      line = QString(indent, QLatin1Char(' '));
      blank = true;
    }
    if (blank) {
      if (word.isEmpty()) continue;
      line += word;
      blank = false;
    } else {
      line += QLatin1Char(' ') + word;
    }
  }
  if (!blank) lines << line;
  for (QString& l : lines) l.replace(QChar(0xA0), QLatin1Char(' '));
  return lines;
}

// A shell command on lines of at most `width` columns, continued with " \".
QStringList wrappedCommand(const QString& command, int indent, int width) {
  const QString more(indent + 2, QLatin1Char(' '));
  QStringList lines;
  QString line(indent, QLatin1Char(' '));
  for (const QString& word : command.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
    const bool fresh = line.trimmed().isEmpty();
    if (!fresh && line.size() + 1 + word.size() + 2 > width) {
      lines << line + QStringLiteral(" \\");
      line = more + word;
    } else {
      line += (fresh ? QString() : QStringLiteral(" ")) + word;
    }
  }
  lines << line;
  return lines;
}

QString heardText(const Hearing& h, int ms) {
  const QString span = QString::number(ms / 1000.0, 'f', 1) + QChar(0xA0) + u's';
  if (!h.listened) return QStringLiteral("; not listened to: another program took it meanwhile");
  if (h.model >= 0) {
    return QStringLiteral("; a fuse is talking on it: %1").arg(fuseModelName(h.model));
  }
  if (h.bytes == 0) {
    return QStringLiteral(
               ", but no fuse is talking on it (nothing arrived in %1): check the cable "
               "and the fuse's supply")
        .arg(span);
  }
  return QStringLiteral(
             ", but no fuse is talking on it: %1 bytes in %2, no valid status "
             "telegram%3 (another device, or a line setting other than 9600 8N1?)")
      .arg(h.bytes)
      .arg(span)
      .arg(h.badFrames > 0 ? QStringLiteral(", %1 broken ones").arg(h.badFrames) : QString());
}

// The adapters present, which port leads to each, and the links to make by their stable
// names: for an adapter no port leads to, on the first port that leads to no device; for
// one a port reaches by its changing kernel name, on that port.
void reportAdapters(const std::function<void(const QString&)>& printLine, int width) {
  auto print = [&](const QStringList& lines) {
    for (const QString& line : lines) printLine(line);
  };
  const QList<SerialAdapter> adapters = serialAdapters();
  if (adapters.isEmpty()) {
    print(wrapped(QStringLiteral("Serial adapters: none plugged in (no /dev/ttyUSB*, "
                                 "/dev/ttyACM*)."),
                  0, 2, width));
    return;
  }
  printLine(QStringLiteral("Serial adapters present:"));
  QStringList devices, links;
  QList<int> freePorts;
  for (int n = 1; n <= kPortCount; ++n) {
    const QString com = QStringLiteral("COM%1").arg(n);
    devices << systemPortPath(com);
    links << portLinkFolder() + QLatin1Char('/') + com;
    if (!devices.last().isEmpty() && !QFileInfo::exists(devices.last())) freePorts << n - 1;
  }
  QStringList commands;
  for (const SerialAdapter& a : adapters) {
    const QString canonical = QFileInfo(a.device).canonicalFilePath();
    QStringList users;
    int relink = -1;
    for (int n = 0; n < kPortCount; ++n) {
      if (devices[n] != canonical) continue;
      users << QStringLiteral("COM%1").arg(n + 1);
      const QFileInfo link(links[n]);
      if (relink < 0 && link.isSymLink() && !a.stableName.isEmpty() &&
          QDir::cleanPath(link.symLinkTarget()) != a.stableName) {
        relink = n;
      }
    }
    QString text = a.device + QStringLiteral("  ") +
                   (a.stableName.isEmpty() ? QStringLiteral("(no stable name)") : a.stableName);
    if (users.isEmpty()) {
      text += QStringLiteral(", no port leads to it");
    } else {
      text += QStringLiteral(", %1 %2 to it")
                  .arg(users.join(QStringLiteral(", ")),
                       users.size() == 1 ? QStringLiteral("leads") : QStringLiteral("lead"));
    }
    print(wrapped(text, 2, kIndent, width));
    const int port = users.isEmpty() && !freePorts.isEmpty() ? freePorts.takeFirst() : relink;
    if (port < 0) continue;
    QString command = QStringLiteral("ln -sfn %1 %2")
                          .arg(a.stableName.isEmpty() ? a.device : a.stableName, links[port]);
    if (!QFileInfo(portLinkFolder()).isDir()) {
      command.prepend(QStringLiteral("mkdir -p %1 && ").arg(portLinkFolder()));
    }
    commands << command;
  }
  if (commands.isEmpty()) return;
  print(wrapped(QStringLiteral("A link by the stable name survives a replug and a reboot:"), 0, 2,
                width));
  for (const QString& command : commands) print(wrappedCommand(command, 2, width));
}
}  // namespace

QString portReportLine(const PortDiagnosis& d, int width) {
  const QString head =
      QStringLiteral("%1  %2  (%3)").arg(d.com.leftJustified(5), d.device, d.source);
  return (wrapped(head, 0, kIndent, width) + wrapped(d.verdict, kIndent, kIndent, width))
      .join(QLatin1Char('\n'));
}

int reportPorts(const std::function<void(const QString&)>& printLine,
                const PortDoctorOptions& options) {
  QList<PortDiagnosis> ports;
  for (int n = 1; n <= kPortCount; ++n) ports << diagnosePort(QStringLiteral("COM%1").arg(n));

  // Listening sets the line to 9600 baud: never on the system console, nor on a port
  // another program has open (a terminal or login without a lock file). A pseudo-
  // terminal is the exception: the program at its other end (the simulator) keeps it
  // open by design. The ports are separate devices: listening to all of them at once
  // keeps the whole run within one listening time.
  std::vector<QString> notHeard(std::size_t(ports.size()));
  std::vector<Hearing> heard(std::size_t(ports.size()));
  if (options.listen) {
    QStringList devices;
    for (const PortDiagnosis& d : ports) {
      if (d.openable && !d.device.startsWith(QStringLiteral("/dev/pts/"))) devices << d.device;
    }
    const QStringList consoles = consoleDevices();
    const QMap<QString, QStringList> holders = holdersOf(devices);
    std::vector<std::thread> listeners;
    for (qsizetype i = 0; i < ports.size(); ++i) {
      const std::size_t k = std::size_t(i);
      const QString device = ports[i].device;
      if (!ports[i].openable) continue;
      if (consoles.contains(device)) {
        notHeard[k] = QStringLiteral(", but it is the system console: not listened to");
      } else if (holders.contains(device)) {
        notHeard[k] =
            QStringLiteral(", but %1 %2 it open too: not listened to")
                .arg(holders[device].join(QStringLiteral(", ")),
                     holders[device].size() == 1 ? QStringLiteral("has") : QStringLiteral("have"));
      } else {
        listeners.emplace_back(
            [&heard, device, k, ms = options.listenMs] { heard[k] = listenForFuse(device, ms); });
      }
    }
    for (std::thread& t : listeners) t.join();
  }

  int openable = 0;
  QStringList talking;
  for (qsizetype i = 0; i < ports.size(); ++i) {
    PortDiagnosis& d = ports[i];
    const std::size_t k = std::size_t(i);
    if (d.openable) {
      ++openable;
      if (options.listen) {
        d.verdict += notHeard[k].isEmpty() ? heardText(heard[k], options.listenMs) : notHeard[k];
        if (heard[k].model >= 0) talking << d.com;
      }
    }
    for (const QString& line : portReportLine(d, options.width).split(QLatin1Char('\n'))) {
      printLine(line);
    }
  }
  reportAdapters(printLine, options.width);

  QString summary =
      QStringLiteral("%1 of %2 ports can be opened now.").arg(openable).arg(kPortCount);
  if (options.listen && openable > 0) {
    summary +=
        talking.isEmpty()
            ? QStringLiteral(" No fuse heard on them.")
            : QStringLiteral(" A fuse is talking on %1.").arg(talking.join(QStringLiteral(", ")));
  }
  for (const QString& line : wrapped(summary, 0, 2, options.width)) printLine(line);
  return openable > 0 ? 0 : 1;
}

}  // namespace zfuse

// zfuse-sim: a simulated fuse on a pseudo-terminal, for the tool when no device is at
// hand. Prints the pseudo-terminal's path; with --link COMn the tool finds it as COMn.
// With --commands it reads commands from standard input while it runs ("help" lists
// them); without, it never touches standard input, so that a simulator started in the
// background of a shell is not stopped for reading the terminal.

#include <signal.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>

#include "link/portnames.h"
#include "tools/devicesim.h"

using zfuse::sim::DeviceSimulator;

namespace {
volatile std::sig_atomic_t g_stop = 0;
void onSignal(int) {
  g_stop = 1;
}

const char* const kCommands =
    "commands on standard input (with --commands):\n"
    "  fault NAME on|off   model NAME   faults   config   quit\n";

void usage(std::FILE* to = stdout) {
  std::fprintf(to, "%s", kCommands);
}

void printConfig(const DeviceSimulator& sim) {
  std::printf("model %s, configuration", zfuse::sim::modelName(sim.model()).c_str());
  for (uint8_t b : sim.configuration()) std::printf(" %02X", b);
  std::printf("\n");
}

// The options, checked; nullopt after a message when they cannot be used.
std::optional<DeviceSimulator::Options> parseOptions(const QStringList& arguments, QString* link,
                                                     bool* commands) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("A simulated Zokara Electronic Fuse on a pseudo-terminal.\n") +
      QString::fromLatin1(kCommands));
  const QCommandLineOption model(
      QStringLiteral("model"),
      QStringLiteral("2ch6a, 2ch10a, standard, 4ch10a (default) or 4ch6a, or the type byte "
                     "(e.g. 0x17)."),
      QStringLiteral("NAME"));
  const QCommandLineOption linkOption(
      QStringLiteral("link"), QStringLiteral("Make the port name COMn lead to the simulator."),
      QStringLiteral("COMn"));
  const QCommandLineOption interval(
      QStringLiteral("interval"),
      QStringLiteral("Milliseconds between status telegrams (default 100, at least 10)."),
      QStringLiteral("MS"));
  const QCommandLineOption unpaced(QStringLiteral("unpaced"),
                                   QStringLiteral("Send every telegram at once, not at the "
                                                  "pace of a 9600-baud line."));
  const QCommandLineOption fault(
      QStringLiteral("fault"),
      QStringLiteral("Switch a fault on: silence, noise, checksum, short, gap, ack, long, "
                     "noanswer, keepsold, storesother; may be repeated."),
      QStringLiteral("NAME"));
  const QCommandLineOption commandsOption(
      QStringLiteral("commands"),
      QStringLiteral("Read commands from standard input (without it, standard input is not "
                     "read: the simulator runs until a signal ends it)."));
  const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                QStringLiteral("This text."));
  parser.addOptions({model, linkOption, interval, unpaced, fault, commandsOption, help});
  const auto refuse = [](const QString& message) {
    std::fprintf(stderr, "zfuse-sim: %s\nTry 'zfuse-sim --help'.\n", qPrintable(message));
    return std::nullopt;
  };
  if (!parser.parse(arguments)) return refuse(parser.errorText());
  if (parser.isSet(help)) {
    std::printf("%s", qPrintable(parser.helpText()));
    std::exit(0);
  }
  if (!parser.positionalArguments().isEmpty()) {
    return refuse(QStringLiteral("unknown argument '%1'").arg(parser.positionalArguments()[0]));
  }
  DeviceSimulator::Options options;
  if (parser.isSet(model)) {
    const auto type = zfuse::sim::modelByName(parser.value(model).toStdString());
    if (!type) return refuse(QStringLiteral("unknown model '%1'").arg(parser.value(model)));
    options.model = *type;
  }
  *link = parser.value(linkOption);
  *commands = parser.isSet(commandsOption);
  if (parser.isSet(interval)) {
    bool ok = false;
    const int ms = parser.value(interval).toInt(&ok);
    if (!ok || ms < 0) return refuse(QStringLiteral("--interval needs milliseconds"));
    options.telegramIntervalMs = std::max(10, ms);
  }
  options.paced = !parser.isSet(unpaced);
  for (const QString& name : parser.values(fault)) {
    const auto f = zfuse::sim::faultByName(name.toStdString());
    if (!f) return refuse(QStringLiteral("unknown fault '%1'").arg(name));
    options.faults |= *f;
  }
  return options;
}
}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("zfuse-sim"));
  QString link;
  bool commands = false;
  const auto parsed = parseOptions(QCoreApplication::arguments(), &link, &commands);
  if (!parsed) return 2;
  const DeviceSimulator::Options options = *parsed;

  DeviceSimulator sim(options);
  if (!sim.start()) {
    std::perror("zfuse-sim: cannot open a pseudo-terminal");
    return 1;
  }
  std::printf("%s\n", sim.slavePath().c_str());
  QString linkPath;
  if (!link.isEmpty()) {
    QDir().mkpath(zfuse::portLinkFolder());
    linkPath = zfuse::portLinkFolder() + QLatin1Char('/') + link;
    QFile::remove(linkPath);
    if (!QFile::link(QString::fromStdString(sim.slavePath()), linkPath)) {
      std::fprintf(stderr, "zfuse-sim: cannot create %s\n", qPrintable(linkPath));
      return 1;
    }
    std::printf("%s -> %s\n", qPrintable(linkPath), sim.slavePath().c_str());
  }
  printConfig(sim);
  std::printf("faults: %s\n", zfuse::sim::faultNames(sim.faults()).c_str());
  std::fflush(stdout);

  // Without SA_RESTART a signal also ends a read of standard input that is waiting.
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  std::string line;
  bool input = commands;
  while (!g_stop) {
    if (!input) {
      ::usleep(100000);
      continue;
    }
    if (!std::getline(std::cin, line)) {
      input = false;  // standard input ended: run until a signal ends the simulator
      continue;
    }
    std::istringstream words(line);
    std::string cmd, a, b;
    words >> cmd >> a >> b;
    if (cmd == "quit" || cmd == "exit") break;
    if (cmd == "fault" && zfuse::sim::faultByName(a) && (b == "on" || b == "off")) {
      sim.setFault(*zfuse::sim::faultByName(a), b == "on");
    } else if (cmd == "model" && zfuse::sim::modelByName(a)) {
      sim.setModel(*zfuse::sim::modelByName(a));
      printConfig(sim);
    } else if (cmd == "config") {
      printConfig(sim);
    } else if (cmd != "faults" && !cmd.empty()) {
      usage();
    }
    std::printf("faults: %s\n", zfuse::sim::faultNames(sim.faults()).c_str());
    std::fflush(stdout);
  }
  sim.stop();
  if (!linkPath.isEmpty()) QFile::remove(linkPath);
  return 0;
}

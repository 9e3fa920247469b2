// zfuse-sim: a simulated fuse on a pseudo-terminal, for the tool when no device is at
// hand. Prints the pseudo-terminal's path; with --link COMn the tool finds it as COMn.
// Reads commands from standard input while it runs ("help" lists them).

#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <csignal>
#include <cstdio>
#include <iostream>
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

void usage(std::FILE* to = stdout) {
  std::fprintf(to,
               "usage: zfuse-sim [--model NAME] [--link COMn] [--interval MS] [--unpaced] "
               "[--fault NAME]...\n"
               "  models: 2ch6a 2ch10a standard 4ch10a 4ch6a (or the type byte, e.g. 0x17)\n"
               "  faults: silence noise checksum short gap ack long noanswer\n"
               "commands on standard input:\n"
               "  fault NAME on|off   model NAME   faults   config   quit\n");
}

void printConfig(const DeviceSimulator& sim) {
  std::printf("model %s, configuration", zfuse::sim::modelName(sim.model()).c_str());
  for (uint8_t b : sim.configuration()) std::printf(" %02X", b);
  std::printf("\n");
}
}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);  // for the port-link folder lookup only
  DeviceSimulator::Options options;
  QString link;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "zfuse-sim: %s needs a value\n", arg.c_str());
        usage(stderr);
        std::exit(2);
      }
      return argv[++i];
    };
    if (arg == "--model") {
      const std::string name = value();
      const auto model = zfuse::sim::modelByName(name);
      if (!model) {
        std::fprintf(stderr, "zfuse-sim: unknown model '%s'\n", name.c_str());
        usage(stderr);
        return 2;
      }
      options.model = *model;
    } else if (arg == "--link") {
      link = QString::fromStdString(value());
    } else if (arg == "--interval") {
      options.telegramIntervalMs = std::max(10, std::atoi(value().c_str()));
    } else if (arg == "--unpaced") {
      options.paced = false;
    } else if (arg == "--fault") {
      const std::string name = value();
      const auto fault = zfuse::sim::faultByName(name);
      if (!fault) {
        std::fprintf(stderr, "zfuse-sim: unknown fault '%s'\n", name.c_str());
        usage(stderr);
        return 2;
      }
      options.faults |= *fault;
    } else if (arg == "--help" || arg == "-h") {
      usage();
      return 0;
    } else {
      std::fprintf(stderr, "zfuse-sim: unknown option '%s'\n", arg.c_str());
      usage(stderr);
      return 2;
    }
  }

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
  bool input = true;
  while (!g_stop) {
    if (!input) {
      ::usleep(100000);
      continue;
    }
    if (!std::getline(std::cin, line)) {
      input = false;  // no terminal: run until a signal ends the simulator
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

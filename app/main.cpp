#include <cstdio>
#include <cstring>

#include "app/program.h"
#include "link/connection.h"
#include "link/portdoctor.h"
#include "zfuse_version.h"

namespace {

void printHelp() {
  std::printf(
      "usage: zfuse [--ports | --version | --help] [Qt options]\n"
      "\n"
      "Service tool for the Zokara Electronic Fuse: watches the fuse live on its serial\n"
      "service port and reads, edits, writes, saves and loads its configuration.\n"
      "Without options the main window starts.\n"
      "\n"
      "  --ports     for COM1 ... COM11, the device each name leads to and whether it can\n"
      "              be opened now; if not, why and what to do. The window does not start.\n"
      "  --version   the version\n"
      "  --help      this text\n"
      "\n"
      "Port names: COMn is the device that the link $XDG_CONFIG_HOME/zfuse/ports/COMn\n"
      "(default ~/.config/zfuse/ports/COMn) points at, or /dev/ttyS<n-1> without a link:\n"
      "  mkdir -p ~/.config/zfuse/ports && ln -s /dev/ttyUSB0 ~/.config/zfuse/ports/COM1\n");
}

int reportPorts() {
  int openable = 0;
  for (int n = 1; n <= zfuse::kPortCount; ++n) {
    const auto d = zfuse::diagnosePort(QStringLiteral("COM%1").arg(n));
    std::printf("%s\n", zfuse::portReportLine(d).toLocal8Bit().constData());
    if (d.openable) ++openable;
  }
  std::printf("%d of %d ports can be opened now.\n", openable, zfuse::kPortCount);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("zfuse %s\n", zfuse::kVersion);
      return 0;
    }
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      printHelp();
      return 0;
    }
    if (std::strcmp(argv[i], "--ports") == 0) return reportPorts();
  }
  return zfuse::runProgram(argc, argv);
}

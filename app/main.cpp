#include <QCommandLineParser>
#include <QStringList>
#include <cstdio>

#include "app/program.h"
#include "link/connection.h"
#include "link/portnames.h"
#include "monitor/portdoctor.h"
#include "zfuse_version.h"

namespace {

const char* const kDescription =
    "Service tool for the Zokara Electronic Fuse: watches the fuse live on its serial\n"
    "service port and reads, edits, writes, saves and loads its configuration.\n"
    "Without options the main window starts on COM1 with German texts.\n"
    "\n"
    "Port names: COMn is the device that the link $XDG_CONFIG_HOME/zfuse/ports/COMn\n"
    "(default ~/.config/zfuse/ports/COMn) points at, or /dev/ttyS<n-1> without a link:\n"
    "  mkdir -p ~/.config/zfuse/ports && ln -s /dev/ttyUSB0 ~/.config/zfuse/ports/COM1";

int usageError(const QString& message) {
  std::fprintf(stderr, "zfuse: %s\nTry 'zfuse --help'.\n", message.toLocal8Bit().constData());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);

  QCommandLineParser parser;
  parser.setApplicationDescription(QString::fromLatin1(kDescription));
  const QCommandLineOption ports(QStringLiteral("ports"),
                                 QStringLiteral("For COM1 ... COM11, the device each name leads "
                                                "to and whether it can be opened now; if not, "
                                                "why and what to do. The window does not start."));
  const QCommandLineOption port(QStringLiteral("port"),
                                QStringLiteral("The port to monitor first, COM1 ... COM11 "
                                               "(default COM1)."),
                                QStringLiteral("COMn"));
  const QCommandLineOption language(QStringLiteral("language"),
                                    QStringLiteral("The language of the texts, de or en "
                                                   "(default de)."),
                                    QStringLiteral("de|en"));
  const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                QStringLiteral("This text."));
  const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("The version."));
  parser.addOptions({ports, port, language, help, version});
  if (!parser.parse(arguments)) return usageError(parser.errorText());
  if (!parser.positionalArguments().isEmpty()) {
    return usageError(
        QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().constFirst()));
  }
  if (parser.isSet(help)) {
    std::printf("%s", parser.helpText()
                          .replace(QLatin1String("<executable_name>"), QLatin1String("zfuse"))
                          .toLocal8Bit()
                          .constData());
    return 0;
  }
  if (parser.isSet(version)) {
    std::printf("zfuse %s\n", zfuse::kVersion);
    return 0;
  }
  if (parser.isSet(ports)) {
    return zfuse::reportPorts(
        [](const QString& line) { std::printf("%s\n", line.toLocal8Bit().constData()); });
  }

  zfuse::StartOptions options;
  if (parser.isSet(port)) {
    const QString name = parser.value(port);
    options.port = zfuse::comPortNumber(name);
    if (options.port == 0) {
      return usageError(QStringLiteral("unknown port '%1'; ports: COM1 ... COM11").arg(name));
    }
  }
  if (parser.isSet(language)) {
    const QString value = parser.value(language);
    if (value != QLatin1String("de") && value != QLatin1String("en")) {
      return usageError(QStringLiteral("unknown language '%1'; languages: de, en").arg(value));
    }
    options.english = value == QLatin1String("en");
  }
  return zfuse::runProgram(argc, argv, options);
}

#pragma once

#include <QHostAddress>
#include <QString>
#include <QStringList>
#include <optional>

#include "config/exchange.h"
#include "ctl/mqttsettings.h"
#include "monitor/statusoutput.h"

namespace zfuse::ctl {

// Exit codes, as documented in --help and the manual page.
enum Exit : int {
  kSuccess = 0,
  kUsage = 2,
  kFileRejected = 3,
  kNoAnswer = 4,
  kDiffers = 5,
  kModelMismatch = 6,
  kPortUnavailable = 7,
  kBrokerUnavailable = 7,  // status --mqtt-required: the first connection to the broker failed
  kInterrupted = 8,
  kOutputFailed = 9,         // standard output cannot be written (full file system, /dev/full)
  kOutputClosed = 10,        // standard output's reader went away (a pipe into head): an end
  kMetricsUnavailable = 11,  // status --metrics: the address cannot be listened on
  kSaveFailed = 12,          // a file cannot be saved (read --output, backup, the record)
  // status: a port gave fewer telegrams than --count asked before --timeout, or none at
  // all by the end (--seconds, an end signal)
  kNoTelegrams = 13,
};

enum class Command { Status, Ports, Read, Write, Verify, Commission, Backup, MqttClean };
// Json: JSON Lines, an object a line; JsonArray: one JSON document.
enum class Format { Text, Json, Csv, File, JsonArray };

// status --metrics [ADDRESS:]PORT: 127.0.0.1 unless an address is given.
struct MetricsAddress {
  QHostAddress address{QHostAddress::LocalHost};
  quint16 port = 0;
};
// "PORT", "ADDRESS:PORT" or "[IPv6]:PORT" with a numeric address or "localhost"; on a
// bad one returns nothing and says why in `error`.
std::optional<MetricsAddress> parseMetricsAddress(const QString& text, QString* error);

// What the command line asks for, checked.
struct Invocation {
  Command command = Command::Status;
  QStringList ports;
  // status
  qint64 count = 0;    // telegrams per port; 0 = no limit
  double seconds = 0;  // 0 = no limit
  // status --count: seconds without a telegram after which a port's count is given up
  double timeout = 5;
  bool requireAll = false;  // status: a port that cannot be opened at the start ends the run
  bool summary = false;
  bool print = true;  // lines on standard output (with --mqtt only when --format is given)
  std::optional<BrokerSettings> mqtt;  // status --mqtt: where to publish
  QStringList deviceIds;               // one per port, for the topics; mqtt-clean: to clear
  bool mqttRequired = false;
  // status --mqtt --ha-discovery: discovery configurations for the home automation
  bool haDiscovery = false;
  QString discoveryPrefix = QStringLiteral("homeassistant");
  bool discoveryPerEntity = false;
  QStringList haRemove;  // device ids whose configurations are cleared
  // status --metrics: where the metrics page listens
  std::optional<MetricsAddress> metrics;
  // status: Text, Json, Csv; read: File, Json, JsonArray; write and verify: Text, Json,
  // JsonArray
  Format format = Format::Text;
  // status --format csv: comma and decimal point, or semicolon and decimal comma
  CsvDialect csvDialect = CsvDialect::Comma;
  // read, write, verify
  QString file;    // write, verify: the configuration file
  QString output;  // read: where to, "%p" standing for the port; empty: standard output
  RetryPolicy retry;
  bool verify = true;  // write: read back and compare
  bool german = false;
  // commission, backup
  QString plan;          // the plan file; backup may name --port and --tag instead
  QString reportDir;     // commission: where the record goes; empty: the plan's folder
  QString operatorName;  // commission: into the record
  QString title;         // commission: into the record
  int jobs = 0;          // devices served at once; 0 = all
  bool dryRun = false;   // commission: read and compare only
  QStringList only;      // tags to serve; empty = all
  QStringList tags;      // backup --port ... --tag ...: one tag per port
};

// The arguments (the program's name first) as an invocation, or what to print and the
// exit code when there is nothing to run: help, version, or a usage error.
struct Parsed {
  std::optional<Invocation> invocation;
  int exit = kSuccess;
  QString out;  // for standard output
  QString err;  // for standard error
};
Parsed parseArguments(const QStringList& arguments);

}  // namespace zfuse::ctl

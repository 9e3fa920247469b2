#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <optional>
#include <string>

#include "config/deviceconfig.h"
#include "config/exchange.h"
#include "ctl/options.h"

namespace zfuse::ctl {

// read, write and verify: every port served on a thread of its own, one result line
// per port in the order the ports were named. Returns the highest exit code of any port.
int runConfigCommand(const Invocation& o);

// A field name or setting text of the comparison ("channel 1 current", "none") in the
// operator's language.
QString fieldText(const std::string& english, bool german);

// A configuration as the JSON of read --format json.
QJsonObject configurationJson(const DeviceConfiguration& c);

// Why a file examined for a device's model is not written: the exit code, the result's
// key, the message and its detail lines. nullopt for a file that fits.
struct Refusal {
  int exit = kSuccess;
  QString result;
  QString message;
  QStringList details;
  int check = 0;
};
std::optional<Refusal> fileRefusal(const FileVerdict& verdict, uint8_t model, const QString& file,
                                   bool german);

// A write and, when asked for, the read-back that follows it.
struct WriteOutcome {
  enum Step { ReadBack, Written, NotAcknowledged, NoReadBack, Interrupted };
  Step step = NotAcknowledged;
  std::optional<DeviceConfiguration> readBack;
  int attempts = 0;
};
WriteOutcome writeAndReadBack(ConfigExchange& exchange, const DeviceConfiguration& wanted,
                              bool readBack);

}  // namespace zfuse::ctl

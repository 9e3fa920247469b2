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
// (or JSON object) per port on standard output in the order the ports were named,
// whatever the result, then a summary. Returns the highest exit code of any port.
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

// A write and, when asked for, the read-back that follows it. With `lookAfterFailedAck`
// a write whose acknowledgement failed is read back as well (when `readBack`), to tell
// what the device holds.
struct WriteOutcome {
  enum Step { ReadBack, Written, NotAcknowledged, NoReadBack, Interrupted };
  Step step = NotAcknowledged;
  std::optional<DeviceConfiguration> readBack;
  int attempts = 0;                   // of the last exchange
  int writeAttempts = 0;              // of the write
  bool acknowledgementWrong = false;  // a reply came, but not the acknowledgement
  bool looked = false;                // read back after a failed acknowledgement
};
WriteOutcome writeAndReadBack(ConfigExchange& exchange, const DeviceConfiguration& wanted,
                              bool readBack, bool lookAfterFailedAck = false);

// The first exchange with a device, before anything is written: its configuration read
// (a read changes nothing on the device; the reply tells the model and is the "before"),
// and, with `lines`, the file examined for that model. `file` names the file in a
// refusal.
struct FirstLook {
  std::optional<DeviceConfiguration> before;
  FileVerdict verdict;
  std::optional<Refusal> refusal;
};
FirstLook firstLook(ConfigExchange& exchange, const FileLines* lines, const QString& file,
                    bool german);

}  // namespace zfuse::ctl

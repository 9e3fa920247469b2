#pragma once

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

#include "ctl/options.h"

namespace zfuse::ctl {

// What read, write, verify and backup came to at one port: one line (and its detail
// lines) in text, one object in JSON. Every port has one, in the order the ports were
// named, whatever its result.
struct PortOutcome {
  QString port;    // as named
  QString device;  // the device the name led to; empty when it cannot be told
  QDateTime time;  // when the result was reached
  QString command;
  QString file;        // the configuration file (write, verify) or the file saved (read, backup)
  QString fileSha256;  // write, verify: of the configuration file
  uint8_t model = 0;   // 0 when the device did not say
  QString version;     // empty when the device did not say
  QString result;      // one word
  int exit = kSuccess;
  QString message;      // the text line, without the port
  QStringList details;  // indented lines below it
  QJsonArray differences;
  QJsonObject extra;       // further members of the JSON object (attempts, configuration, ...)
  bool portLeads = false;  // "COM4 cannot be opened: ..." rather than "COM4: ..."
};

// The JSON object of one port; snake_case names, model and version null when unknown.
QJsonObject outcomeJson(const PortOutcome& r);
// The text line and its detail lines, each ending in a newline.
QString outcomeText(const PortOutcome& r);

// The counts of each result, in the order the results first came.
QJsonObject summaryJson(const QString& command, const std::vector<PortOutcome>& results, int exit);
// "4 ports: 2 verified, 1 not_offered, 1 port_unavailable; exit code 7", ending in a
// newline; the result words stay as in JSON, so that scripts can look for them.
QString summaryText(const std::vector<PortOutcome>& results, int exit, bool german);

// Prints every port's outcome and the summary in the chosen form: text (lines, then the
// summary line), JSON Lines (an object per port, then {"summary": ...}) or one JSON
// document {"results": [...], "summary": {...}}. Text goes to `textStream`.
void printOutcomes(const QString& command, const std::vector<PortOutcome>& results, int exit,
                   Format format, bool german, FILE* textStream);

// The SHA-256 of a regular file as lower-case hex, read without waiting; empty when it
// cannot be read.
QString fileSha256(const QByteArray& localPath);

}  // namespace zfuse::ctl

#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>
#include <variant>
#include <vector>

#include "config/configfile.h"
#include "link/portaddress.h"

namespace zfuse::ctl {

// A commissioning plan: one CSV row per device. UTF-8 with or without a byte-order mark,
// CR LF or LF line ends, ',' or ';' between fields (whichever the header row uses),
// fields in double quotes where they hold a separator, a quote or a line end, and lines
// starting with '#' as comments. Columns by their header name in any order: tag and port
// are needed, file and model may be there, any other column is carried into the record.

// Bytes read at the most: a plan longer than this is refused, not read on.
constexpr qsizetype kPlanReadBudget = 1 << 20;
// Devices in one plan at the most.
constexpr int kPlanDeviceLimit = 1000;

struct PlanRow {
  int line = 0;       // where the row starts in the plan, from 1
  QString tag;        // unique in the plan
  PortAddress port;   // as given and the device it leads to
  QString fileGiven;  // as written in the plan; empty: read and record only
  QString file;       // the path, relative ones counted from the plan's folder
  std::optional<uint8_t> model;
  QStringList extra;  // the other columns' values, in the order of Plan::extraColumns
  FileLines lines;    // the file's lines once examined
};

struct Plan {
  QString path;
  QByteArray sha256;  // of the plan's bytes, as lower-case hex
  QChar separator = QLatin1Char(',');
  QStringList extraColumns;
  std::vector<PlanRow> rows;
};

// What is wrong with a plan or one of its files: where (line and column from 1; 0 where
// the whole plan or line is meant) and why; exit code 2 for the plan, 3 for a file.
struct PlanError {
  int line = 0;
  int column = 0;
  QString message;
  int exit = 2;
  // "plan.csv:4:2: ..." as printed.
  QString text(const QString& planPath) const;
};

// The plan's bytes, checked row by row: the header, every field count, tags, ports
// (each device once), model names. `folder` is where relative file paths count from.
// Touches no device and reads no configuration file.
std::variant<Plan, PlanError> parsePlan(const QByteArray& bytes, const QString& folder);

// The plan file at `path`: only a regular file (also through links) is opened, without
// waiting, and read up to kPlanReadBudget; then parsePlan.
std::variant<Plan, PlanError> readPlan(const QString& path);

// Every row's configuration file: a regular file that the examiner of the row's model
// (or of either variant, where the plan names no model) takes. Fills each row's lines.
std::optional<PlanError> examinePlanFiles(Plan& plan);

// A field of a CSV line: quoted where it holds `separator`, a quote or a line end,
// starts with '#' or has spaces at an end.
QString csvField(const QString& value, QChar separator = QLatin1Char(','));

}  // namespace zfuse::ctl

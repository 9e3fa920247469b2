#include "ctl/plan.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <cerrno>
#include <cstring>

#include "config/deviceconfig.h"
#include "link/localnames.h"
#include "monitor/statustelegram.h"

namespace zfuse::ctl {

QString PlanError::text(const QString& planPath) const {
  QString where = planPath;
  if (line > 0) where += QStringLiteral(":%1").arg(line);
  if (column > 0) where += QStringLiteral(":%1").arg(column);
  return where + QStringLiteral(": ") + message;
}

QString csvField(const QString& value, QChar separator) {
  // A leading '#' would make a comment of the line, and spaces around a field that is
  // not quoted are not kept.
  if (!value.contains(separator) && !value.contains(QLatin1Char('"')) &&
      !value.contains(QLatin1Char('\n')) && !value.contains(QLatin1Char('\r')) &&
      !value.startsWith(QLatin1Char('#')) && value.trimmed() == value) {
    return value;
  }
  QString quoted = value;
  quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
  return QLatin1Char('"') + quoted + QLatin1Char('"');
}

namespace {

struct Record {
  int line = 0;
  QStringList fields;
};

PlanError error(int line, int column, const QString& message, int exit = 2) {
  return {line, column, message, exit};
}

// The separator of the header line: ';' where it has more of them than ','.
QChar separatorOf(const QString& text, qsizetype from) {
  int commas = 0;
  int semicolons = 0;
  bool quoted = false;
  for (qsizetype i = from; i < text.size() && (quoted || text[i] != QLatin1Char('\n')); ++i) {
    const QChar c = text[i];
    if (c == QLatin1Char('"')) quoted = !quoted;
    if (!quoted && c == QLatin1Char(',')) ++commas;
    if (!quoted && c == QLatin1Char(';')) ++semicolons;
  }
  return semicolons > commas ? QLatin1Char(';') : QLatin1Char(',');
}

// The records of the text: comment and empty lines left out, a quoted field may span
// lines. The separator is taken from the first record.
std::variant<std::vector<Record>, PlanError> records(const QString& text, QChar* separator) {
  std::vector<Record> out;
  qsizetype i = 0;
  int line = 1;
  bool first = true;
  const auto atLineEnd = [&](qsizetype at) {
    return at >= text.size() || text[at] == QLatin1Char('\n') ||
           (text[at] == QLatin1Char('\r') &&
            (at + 1 >= text.size() || text[at + 1] == QLatin1Char('\n')));
  };
  while (i < text.size()) {
    // A comment line or an empty one.
    if (text[i] == QLatin1Char('#') || atLineEnd(i)) {
      while (i < text.size() && text[i] != QLatin1Char('\n')) ++i;
      ++i;
      ++line;
      continue;
    }
    if (first) {
      *separator = separatorOf(text, i);
      first = false;
    }
    Record r;
    r.line = line;
    for (;;) {
      const int column = static_cast<int>(r.fields.size()) + 1;
      QString field;
      if (i < text.size() && text[i] == QLatin1Char('"')) {
        const int opened = line;
        ++i;
        for (;;) {
          if (i >= text.size()) {
            return error(opened, column, QStringLiteral("a quote is left open"));
          }
          const QChar c = text[i];
          if (c == QLatin1Char('"')) {
            if (i + 1 < text.size() && text[i + 1] == QLatin1Char('"')) {
              field += c;
              i += 2;
              continue;
            }
            ++i;
            break;
          }
          if (c == QLatin1Char('\n')) ++line;
          field += c;
          ++i;
        }
        if (!atLineEnd(i) && text[i] != *separator) {
          return error(line, column, QStringLiteral("text after the closing quote"));
        }
      } else {
        while (!atLineEnd(i) && text[i] != *separator) {
          if (text[i] == QLatin1Char('"')) {
            return error(line, column, QStringLiteral("a quote inside an unquoted field"));
          }
          field += text[i++];
        }
        field = field.trimmed();
      }
      r.fields << field;
      if (atLineEnd(i)) break;
      ++i;  // the separator
    }
    out.push_back(std::move(r));
    // The line end.
    if (i < text.size() && text[i] == QLatin1Char('\r')) ++i;
    if (i < text.size() && text[i] == QLatin1Char('\n')) ++i;
    ++line;
  }
  return out;
}

QString modelList() {
  return QStringLiteral("2ch6a, 2ch10a, standard, 4ch10a, 4ch6a");
}

}  // namespace

std::variant<Plan, PlanError> parsePlan(const QByteArray& bytes, const QString& folder) {
  Plan plan;
  plan.sha256 = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
  if (bytes.size() > kPlanReadBudget) {
    return error(0, 0, QStringLiteral("longer than %1 bytes").arg(kPlanReadBudget));
  }
  if (bytes.contains('\0')) return error(0, 0, QStringLiteral("binary, not CSV text"));
  QStringDecoder decode(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = decode(bytes);
  if (decode.hasError()) return error(0, 0, QStringLiteral("not UTF-8 text"));
  if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);

  auto parsed = records(text, &plan.separator);
  if (auto* e = std::get_if<PlanError>(&parsed)) return *e;
  std::vector<Record>& rs = std::get<std::vector<Record>>(parsed);
  if (rs.empty()) return error(0, 0, QStringLiteral("the plan is empty"));

  // The header.
  const Record& header = rs.front();
  int tagAt = -1, portAt = -1, fileAt = -1, modelAt = -1;
  QList<int> extraAt;
  for (int c = 0; c < header.fields.size(); ++c) {
    const QString name = header.fields[c];
    const QString key = name.toLower();
    if (name.isEmpty()) return error(header.line, c + 1, QStringLiteral("a column without a name"));
    for (int d = 0; d < c; ++d) {
      if (header.fields[d].toLower() == key) {
        return error(header.line, c + 1, QStringLiteral("column '%1' named twice").arg(name));
      }
    }
    if (key == QLatin1String("tag")) {
      tagAt = c;
    } else if (key == QLatin1String("port")) {
      portAt = c;
    } else if (key == QLatin1String("file")) {
      fileAt = c;
    } else if (key == QLatin1String("model")) {
      modelAt = c;
    } else {
      extraAt << c;
      plan.extraColumns << name;
    }
  }
  if (tagAt < 0) return error(header.line, 0, QStringLiteral("the header has no 'tag' column"));
  if (portAt < 0) return error(header.line, 0, QStringLiteral("the header has no 'port' column"));
  if (rs.size() == 1) return error(0, 0, QStringLiteral("the plan names no device"));
  if (rs.size() - 1 > static_cast<std::size_t>(kPlanDeviceLimit)) {
    return error(rs[kPlanDeviceLimit + 1].line, 0,
                 QStringLiteral("more than %1 devices").arg(kPlanDeviceLimit));
  }

  const qsizetype columns = header.fields.size();
  QList<PortAddress> ports;
  for (std::size_t n = 1; n < rs.size(); ++n) {
    const Record& r = rs[n];
    if (r.fields.size() != columns) {
      return error(
          r.line, static_cast<int>(std::min(r.fields.size(), columns) + 1),
          QStringLiteral("%1 fields where the header has %2").arg(r.fields.size()).arg(columns));
    }
    PlanRow row;
    row.line = r.line;
    row.tag = r.fields[tagAt];
    if (row.tag.isEmpty()) return error(r.line, tagAt + 1, QStringLiteral("the tag is empty"));
    for (const PlanRow& earlier : plan.rows) {
      if (earlier.tag == row.tag) {
        return error(r.line, tagAt + 1,
                     QStringLiteral("tag %1 is on line %2 already").arg(row.tag).arg(earlier.line));
      }
    }
    QString why;
    const auto port = portAddressOf(r.fields[portAt], &why);
    if (!port) return error(r.line, portAt + 1, why);
    for (const PlanRow& earlier : plan.rows) {
      if (samePortTwice({earlier.port, *port})) {
        return error(r.line, portAt + 1,
                     QStringLiteral("%1 is the device of line %2 (%3) already")
                         .arg(port->given)
                         .arg(earlier.line)
                         .arg(earlier.port.given));
      }
    }
    row.port = *port;
    if (modelAt >= 0 && !r.fields[modelAt].isEmpty()) {
      row.model = modelOfName(r.fields[modelAt].toLower().toLatin1().constData());
      if (!row.model) {
        return error(
            r.line, modelAt + 1,
            QStringLiteral("unknown model '%1'; models: %2").arg(r.fields[modelAt], modelList()));
      }
    }
    if (fileAt >= 0 && !r.fields[fileAt].isEmpty()) {
      row.fileGiven = r.fields[fileAt];
      row.file = QDir::cleanPath(QDir(folder).absoluteFilePath(row.fileGiven));
    }
    for (int c : extraAt) row.extra << r.fields[c];
    plan.rows.push_back(std::move(row));
  }
  return plan;
}

std::variant<Plan, PlanError> readPlan(const QString& path) {
  const QByteArray name = localName(path);
  struct stat st {};
  const auto refuse = [](const QString& why) { return error(0, 0, why); };
  if (::lstat(name.constData(), &st) != 0 || ::stat(name.constData(), &st) != 0) {
    return refuse(errno == ENOENT ? QStringLiteral("no such file")
                                  : QString::fromLocal8Bit(std::strerror(errno)));
  }
  if (S_ISDIR(st.st_mode)) return refuse(QStringLiteral("a folder, not a plan"));
  if (!S_ISREG(st.st_mode)) return refuse(QStringLiteral("not a regular file"));
  const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return refuse(QString::fromLocal8Bit(std::strerror(errno)));
  // Checked again on what was opened: the name may have been swapped meanwhile.
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return refuse(QStringLiteral("not a regular file"));
  }
  QByteArray bytes;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int e = errno;
      ::close(fd);
      return refuse(QString::fromLocal8Bit(std::strerror(e)));
    }
    if (n == 0) break;
    bytes.append(buffer, n);
    if (bytes.size() > kPlanReadBudget) break;  // refused by the parser as too long
  }
  ::close(fd);
  auto parsed = parsePlan(bytes, QFileInfo(path).absolutePath());
  if (auto* plan = std::get_if<Plan>(&parsed)) plan->path = path;
  return parsed;
}

std::optional<PlanError> examinePlanFiles(Plan& plan) {
  for (PlanRow& row : plan.rows) {
    if (row.file.isEmpty()) continue;
    const auto refuse = [&](const QString& why) {
      return PlanError{row.line, 0, row.fileGiven + QStringLiteral(": ") + why, 3};
    };
    const QByteArray name = localName(row.file);
    struct stat st {};
    if (::stat(name.constData(), &st) != 0) {
      return refuse(errno == ENOENT ? QStringLiteral("no such file")
                                    : QString::fromLocal8Bit(std::strerror(errno)));
    }
    if (S_ISDIR(st.st_mode)) return refuse(QStringLiteral("a folder, not a file"));
    if (!S_ISREG(st.st_mode)) return refuse(QStringLiteral("not a regular file"));
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return refuse(QString::fromLocal8Bit(std::strerror(errno)));
    ::close(fd);
    row.lines = readFileLines(name.toStdString());
    if (row.model) {
      const FileVerdict v = examineFileFor(row.lines, *row.model);
      const QString model = QLatin1String(modelName(*row.model));
      switch (v.result) {
        case FileVerdict::Good:
          break;
        case FileVerdict::Rejected:
          return refuse(QStringLiteral("file error C%1").arg(v.check));
        case FileVerdict::OtherVariant:
          return refuse(*row.model == kTypeStandard
                            ? QStringLiteral("a file of the fuse-variant models; the plan "
                                             "names the standard model")
                            : QStringLiteral("a file of the standard model; the plan names "
                                             "the %1 model")
                                  .arg(model));
        case FileVerdict::NotOffered: {
          QStringList reasons;
          for (const std::string& r : v.reasons) reasons << QString::fromStdString(r);
          return refuse(QStringLiteral("does not fit the %1 model: %2")
                            .arg(model, reasons.join(QStringLiteral("; "))));
        }
      }
    } else {
      const auto s = examineStandardFile(row.lines);
      const auto z = examineZokxFile(row.lines);
      if ((s.check != 0 || s.badNumber) && (z.check != 0 || z.badNumber)) {
        return refuse(QStringLiteral("file error C%1").arg(std::max(s.check, z.check)));
      }
    }
  }
  return std::nullopt;
}

}  // namespace zfuse::ctl

#include "ctl/results.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QJsonDocument>
#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "config/deviceconfig.h"
#include "ctl/output.h"
#include "monitor/statusoutput.h"

namespace zfuse::ctl {
namespace {

QJsonValue orNull(const QString& text) {
  return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

}  // namespace

QJsonObject outcomeJson(const PortOutcome& r) {
  QJsonObject j = r.extra;
  j[QStringLiteral("port")] = r.port;
  j[QStringLiteral("device")] = orNull(r.device);
  j[QStringLiteral("time")] = isoTime(r.time);
  j[QStringLiteral("command")] = r.command;
  j[QStringLiteral("file")] = orNull(r.file);
  if (r.command == QLatin1String("write") || r.command == QLatin1String("verify")) {
    j[QStringLiteral("file_sha256")] = orNull(r.fileSha256);
  }
  j[QStringLiteral("model")] =
      r.model != 0 ? QJsonValue(QString::fromLatin1(modelName(r.model))) : QJsonValue();
  j[QStringLiteral("version")] = orNull(r.version);
  j[QStringLiteral("result")] = r.result;
  j[QStringLiteral("exit")] = r.exit;
  j[QStringLiteral("message")] = r.message;
  j[QStringLiteral("differences")] = r.differences;
  return j;
}

QString outcomeText(const PortOutcome& r) {
  QString text = r.port + (r.portLeads ? QStringLiteral(" ") : QStringLiteral(": ")) + r.message +
                 QLatin1Char('\n');
  for (const QString& d : r.details) text += QStringLiteral("  ") + d + QLatin1Char('\n');
  return text;
}

namespace {
// Each result word with its count, in the order the words first came.
std::vector<std::pair<QString, int>> counted(const std::vector<PortOutcome>& results) {
  std::vector<std::pair<QString, int>> counts;
  for (const PortOutcome& r : results) {
    auto it = std::find_if(counts.begin(), counts.end(),
                           [&](const auto& c) { return c.first == r.result; });
    if (it == counts.end()) {
      counts.emplace_back(r.result, 1);
    } else {
      ++it->second;
    }
  }
  return counts;
}
}  // namespace

QJsonObject summaryJson(const QString& command, const std::vector<PortOutcome>& results, int exit) {
  QJsonObject counts;
  for (const auto& [word, n] : counted(results)) counts[word] = n;
  return QJsonObject{{QStringLiteral("command"), command},
                     {QStringLiteral("ports"), static_cast<qint64>(results.size())},
                     {QStringLiteral("counts"), counts},
                     {QStringLiteral("exit"), exit}};
}

QString summaryText(const std::vector<PortOutcome>& results, int exit, bool german) {
  QStringList parts;
  for (const auto& [word, n] : counted(results)) parts << QStringLiteral("%1 %2").arg(n).arg(word);
  const qsizetype ports = static_cast<qsizetype>(results.size());
  const QString lead =
      german ? (ports == 1 ? QStringLiteral("1 Anschluss")
                           : QStringLiteral("%1 Anschlüsse").arg(ports))
             : (ports == 1 ? QStringLiteral("1 port") : QStringLiteral("%1 ports").arg(ports));
  return QStringLiteral("%1: %2; %3 %4\n")
      .arg(lead, parts.join(QStringLiteral(", ")),
           german ? QStringLiteral("Exit-Code") : QStringLiteral("exit code"))
      .arg(exit);
}

void printOutcomes(const QString& command, const std::vector<PortOutcome>& results, int exit,
                   Format format, bool german, FILE* textStream) {
  if (format == Format::JsonArray) {
    QJsonArray all;
    for (const PortOutcome& r : results) all.append(outcomeJson(r));
    const QJsonObject doc{{QStringLiteral("results"), all},
                          {QStringLiteral("summary"), summaryJson(command, results, exit)}};
    writeOut(QJsonDocument(doc).toJson(QJsonDocument::Compact) + '\n');
  } else if (format == Format::Json) {
    for (const PortOutcome& r : results) {
      writeOut(QJsonDocument(outcomeJson(r)).toJson(QJsonDocument::Compact) + '\n');
    }
    const QJsonObject summary{{QStringLiteral("summary"), summaryJson(command, results, exit)}};
    writeOut(QJsonDocument(summary).toJson(QJsonDocument::Compact) + '\n');
  } else {
    for (const PortOutcome& r : results) writeText(textStream, outcomeText(r));
    writeText(textStream, summaryText(results, exit, german));
  }
}

QString fileSha256(const QByteArray& localPath) {
  const int fd = ::open(localPath.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return {};
  struct stat st {};
  QCryptographicHash hash(QCryptographicHash::Sha256);
  bool whole = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  char chunk[65536];
  while (whole) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) whole = false;
    if (n <= 0) break;
    hash.addData(QByteArrayView(chunk, n));
  }
  ::close(fd);
  return whole ? QString::fromLatin1(hash.result().toHex()) : QString();
}

}  // namespace zfuse::ctl

#include "windows/csvquestion.h"

#include <QDir>
#include <QFileInfo>

#include "windowkit/modal.h"

namespace zfuse {

namespace {
QString& lastFolder() {
  static QString folder;
  return folder;
}

// Letters, digits, '-', '_' and '.' stay; anything else (a path separator, a colon, a
// space) would make the name hard to type or to carry to another system.
QString fileNamePart(const QString& text) {
  QString part = text;
  for (QChar& c : part) {
    const bool plain = (c.isLetterOrNumber() && c.unicode() < 0x80) || c == QLatin1Char('-') ||
                       c == QLatin1Char('_') || c == QLatin1Char('.');
    if (!plain) c = QLatin1Char('_');
  }
  return part;
}
}  // namespace

QString csvFileName(const QString& port, const QDateTime& time, const QString& what) {
  QString name = QStringLiteral("zfuse-") + fileNamePart(port);
  if (!what.isEmpty()) name += QLatin1Char('-') + fileNamePart(what);
  return name + time.toString(QStringLiteral("-yyyy-MM-dd-HHmmss")) + QStringLiteral(".csv");
}

QString csvFolder() {
  return lastFolder().isEmpty() ? QDir::currentPath() : lastFolder();
}

void resetCsvFolder() {
  lastFolder().clear();
}

std::optional<CsvSaveAnswer> askCsvSave(QWidget* parent, bool english, const QString& fileName) {
  const FileQuestion question =
      FileQuestion::csvSave(english, QDir(csvFolder()).filePath(fileName));
  const FileChoice choice = Modal::askFile(parent, question);
  if (choice.path.isEmpty()) return std::nullopt;
  lastFolder() = QFileInfo(choice.path).absolutePath();
  // "All files" keeps the dialect the window's language preselects.
  const int filter =
      choice.filter == FileQuestion::kCsvComma || choice.filter == FileQuestion::kCsvSemicolon
          ? choice.filter
          : question.preselected;
  return CsvSaveAnswer{choice.path, filter == FileQuestion::kCsvSemicolon ? CsvDialect::Semicolon
                                                                          : CsvDialect::Comma};
}

}  // namespace zfuse

#include "windowkit/modal.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <algorithm>

namespace zfuse {

FileQuestion FileQuestion::csvSave(bool english, const QString& proposedName) {
  FileQuestion q;
  q.kind = Save;
  q.filters = {english ? QStringLiteral("CSV (comma, decimal point) (*.csv)")
                       : QStringLiteral("CSV (Komma, Dezimalpunkt) (*.csv)"),
               english ? QStringLiteral("CSV for spreadsheets (semicolon, decimal comma) (*.csv)")
                       : QStringLiteral("CSV für Tabellenkalkulation (Semikolon, Dezimalkomma) "
                                        "(*.csv)"),
               english ? QStringLiteral("All files (*)") : QStringLiteral("Alle Dateien (*)")};
  q.defaultSuffix = QStringLiteral("csv");
  q.preselected = english ? kCsvComma : kCsvSemicolon;
  q.proposedName = proposedName;
  return q;
}

std::function<FileChoice(const FileQuestion&)> Modal::fileChoice;
std::function<QString(const FileQuestion&)> Modal::fileAnswer;
std::function<void(const QString&)> Modal::errorSeen;
std::function<void(const QUrl&)> Modal::urlOpened;

QString Modal::askFileName(QWidget* parent, const FileQuestion& question) {
  return askFile(parent, question).path;
}

FileChoice Modal::askFile(QWidget* parent, const FileQuestion& question) {
  if (fileChoice) return fileChoice(question);
  if (fileAnswer) return {fileAnswer(question), question.preselected};
  QFileDialog dialog(parent);
  dialog.setNameFilters(question.filters);
  if (question.preselected >= 0 && question.preselected < question.filters.size()) {
    dialog.selectNameFilter(question.filters[question.preselected]);
  }
  if (!question.proposedName.isEmpty()) {
    const QFileInfo proposed(question.proposedName);
    dialog.setDirectory(proposed.absolutePath());
    dialog.selectFile(proposed.fileName());
  }
  if (question.kind == FileQuestion::Save) {
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(question.defaultSuffix);
  } else {
    // Any name typed in is taken, existing or not.
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return {dialog.selectedFiles().front(),
          std::max(0, static_cast<int>(question.filters.indexOf(dialog.selectedNameFilter())))};
}

void Modal::showError(QWidget* parent, const QString& text) {
  if (errorSeen) {
    errorSeen(text);
    return;
  }
  QMessageBox::critical(parent, QString(), text);
}

void Modal::openUrl(const QUrl& url) {
  if (urlOpened) {
    urlOpened(url);
    return;
  }
  QDesktopServices::openUrl(url);
}

}  // namespace zfuse

#include "windowkit/modal.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>

namespace zfuse {

FileQuestion FileQuestion::csvSave(bool english) {
  FileQuestion q;
  q.kind = Save;
  q.filters = {
      english ? QStringLiteral("CSV files (*.csv)") : QStringLiteral("CSV-Dateien (*.csv)"),
      english ? QStringLiteral("All files (*)") : QStringLiteral("Alle Dateien (*)")};
  q.defaultSuffix = QStringLiteral("csv");
  return q;
}

std::function<QString(const FileQuestion&)> Modal::fileAnswer;
std::function<void(const QString&)> Modal::errorSeen;
std::function<void(const QUrl&)> Modal::urlOpened;

QString Modal::askFileName(QWidget* parent, const FileQuestion& question) {
  if (fileAnswer) return fileAnswer(question);
  QFileDialog dialog(parent);
  dialog.setNameFilters(question.filters);
  if (!question.filters.isEmpty()) dialog.selectNameFilter(question.filters.front());
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
  return dialog.selectedFiles().front();
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

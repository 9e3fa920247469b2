#pragma once

#include <QDateTime>
#include <QString>
#include <optional>

#include "monitor/statusoutput.h"

class QWidget;

namespace zfuse {

// Where a CSV file goes and in which dialect, as the operator chose it in the save dialog.
struct CsvSaveAnswer {
  QString path;
  CsvDialect dialect = CsvDialect::Comma;
};

// A file name for a CSV file of `port` made at `time`: "zfuse-COM1-2026-12-10-140307.csv",
// with `what` ("events") after the port when given. Characters a file name should not
// hold become "_".
QString csvFileName(const QString& port, const QDateTime& time, const QString& what = {});

// Asks for a CSV file to save, proposing `fileName` in the folder last chosen in this
// run (at first the working folder); the German window preselects the spreadsheet
// dialect. nullopt when the operator cancels.
std::optional<CsvSaveAnswer> askCsvSave(QWidget* parent, bool english, const QString& fileName);

// The folder the next CSV save dialog opens in.
QString csvFolder();
// Back to the working folder, as at the program's start.
void resetCsvFolder();

}  // namespace zfuse

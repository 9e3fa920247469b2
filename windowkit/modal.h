#pragma once

#include <QString>
#include <QUrl>
#include <functional>

class QWidget;

namespace zfuse {

// What a file dialog asks: its caption-free form, filter list and, when saving, the
// suffix added to a bare name. The file dialogs confirm overwriting an existing file.
struct FileQuestion {
  enum Kind { Open, Save } kind = Open;
  QStringList filters;     // e.g. "Text files (*.txt)", "All files (*.*)"; the first is preselected
  QString defaultSuffix;   // without the dot
  int preselected = 0;     // the filter chosen when the dialog opens
  QString proposedName{};  // the file name (with its folder) the dialog proposes; empty: none

  // Saving a CSV file (a recording, an export), in the window's language: the filters
  // kCsvComma and kCsvSemicolon name the two CSV dialects, the German window preselects
  // the spreadsheet one.
  static constexpr int kCsvComma = 0;
  static constexpr int kCsvSemicolon = 1;
  static FileQuestion csvSave(bool english, const QString& proposedName = {});
};

// The operator's answer to a file question: the name (empty when cancelled) and the
// filter chosen in the dialog.
struct FileChoice {
  QString path;
  int filter = 0;
};

// The modal questions windows put to the operator, and the desktop's shell-open. The
// program shows the real dialogs; tests answer through the hooks instead, so nothing
// ever blocks a test.
struct Modal {
  // A file name, or an empty string when the operator cancels.
  static QString askFileName(QWidget* parent, const FileQuestion& question);
  // The same, with the filter the operator left chosen.
  static FileChoice askFile(QWidget* parent, const FileQuestion& question);
  // An error message box with an OK button.
  static void showError(QWidget* parent, const QString& text);
  // Hands a link to the desktop's default program (mail, browser); the result is not
  // examined.
  static void openUrl(const QUrl& url);

  // Test hooks; an empty function restores the real behaviour. fileChoice answers before
  // fileAnswer, whose answers leave the preselected filter chosen.
  static std::function<FileChoice(const FileQuestion&)> fileChoice;
  static std::function<QString(const FileQuestion&)> fileAnswer;
  static std::function<void(const QString&)> errorSeen;
  static std::function<void(const QUrl&)> urlOpened;
};

}  // namespace zfuse

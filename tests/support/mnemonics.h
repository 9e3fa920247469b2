#pragma once

#include <QString>

namespace zfuse::test {

// What a caption shows: without the "&" that marks its mnemonic letter ("&&" shows as
// one "&").
inline QString visibleText(const QString& caption) {
  QString shown;
  for (qsizetype i = 0; i < caption.size(); ++i) {
    if (caption[i] == QLatin1Char('&') && i + 1 < caption.size()) ++i;
    shown += caption[i];
  }
  return shown;
}

// The mnemonic letter of a caption, upper case; a null character when it has none.
inline QChar mnemonicLetter(const QString& caption) {
  for (qsizetype i = 0; i + 1 < caption.size(); ++i) {
    if (caption[i] != QLatin1Char('&')) continue;
    if (caption[i + 1] != QLatin1Char('&')) return caption[i + 1].toUpper();
    ++i;
  }
  return {};
}

}  // namespace zfuse::test

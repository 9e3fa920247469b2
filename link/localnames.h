#pragma once

#include <QByteArray>
#include <QString>

namespace zfuse {

// File names from outside (the command line) as text that keeps every byte. A Linux
// file name is any string of bytes; one that is no valid UTF-8 (a name from an older
// system, "a\xff.txt") must open that file and no other. The toolkit's own decoding puts
// U+FFFD for such bytes, which leads to another name (or to "no such file"), so every
// byte outside valid UTF-8 is kept as a lone low surrogate U+DC80 ... U+DCFF instead,
// which valid UTF-8 can never give, and turned back into that byte by localName.

// The bytes as text: valid UTF-8 as its characters, each other byte as U+DC00 + byte.
QString nameFromBytes(const QByteArray& bytes);

// The bytes a name stands for: the kept bytes as they were, the rest as UTF-8. For any
// bytes b, localName(nameFromBytes(b)) == b.
QByteArray localName(const QString& name);

// The name for messages: kept bytes shown as \xFF, the rest as it is.
QString printableName(const QString& name);

// Whether the toolkit's file classes (QFile, QSaveFile) reach the file of that name:
// true for every name that is valid UTF-8.
bool toolkitSpellsName(const QString& name);

}  // namespace zfuse

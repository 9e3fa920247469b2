#include "link/localnames.h"

#include <QFile>

namespace zfuse {

namespace {
constexpr char16_t kKeptLow = 0xDC80;
constexpr char16_t kKeptHigh = 0xDCFF;

// Whether the character at `i` is a kept byte: a low surrogate of that range on its own,
// not the second half of a character above U+FFFF (U+4A492 ends in U+DC92 as well).
bool kept(QStringView name, qsizetype i) {
  const char16_t c = name.at(i).unicode();
  return c >= kKeptLow && c <= kKeptHigh && !(i > 0 && name.at(i - 1).isHighSurrogate());
}

// The length of the valid UTF-8 sequence at `i`, 0 when the byte there starts none: no
// overlong forms, no surrogates, nothing above U+10FFFF.
qsizetype sequenceAt(const QByteArray& b, qsizetype i) {
  const auto byte = [&](qsizetype k) { return static_cast<unsigned char>(b.at(k)); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) return 1;
  qsizetype length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;  // U+D800 ... U+DFFF are no characters to encode
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (i + length > b.size()) return 0;
  if (byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (qsizetype k = 2; k < length; ++k) {
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  }
  return length;
}
}  // namespace

QString nameFromBytes(const QByteArray& bytes) {
  QString name;
  name.reserve(bytes.size());
  qsizetype start = 0;  // the start of the valid run not yet decoded
  qsizetype i = 0;
  while (i < bytes.size()) {
    const qsizetype n = sequenceAt(bytes, i);
    if (n > 0) {
      i += n;
      continue;
    }
    name += QString::fromUtf8(bytes.constData() + start, i - start);
    name += QChar(static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(bytes.at(i))));
    start = ++i;
  }
  name += QString::fromUtf8(bytes.constData() + start, i - start);
  return name;
}

QByteArray localName(const QString& name) {
  QByteArray bytes;
  bytes.reserve(name.size());
  qsizetype start = 0;
  for (qsizetype i = 0; i < name.size(); ++i) {
    if (!kept(name, i)) continue;
    bytes += QStringView(name).mid(start, i - start).toUtf8();
    bytes += static_cast<char>(name.at(i).unicode() - 0xDC00);
    start = i + 1;
  }
  bytes += QStringView(name).mid(start).toUtf8();
  return bytes;
}

QString printableName(const QString& name) {
  QString text;
  text.reserve(name.size());
  for (qsizetype i = 0; i < name.size(); ++i) {
    if (kept(name, i)) {
      text += QStringLiteral("\\x%1").arg(name.at(i).unicode() - 0xDC00, 2, 16, QLatin1Char('0'));
    } else {
      text += name.at(i);
    }
  }
  return text;
}

bool toolkitSpellsName(const QString& name) {
  return QFile::encodeName(name) == localName(name);
}

}  // namespace zfuse

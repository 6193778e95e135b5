#pragma once
// File names as the file system has them: any bytes but '/' and NUL. Qt
// turns bytes that are not UTF-8 into U+FFFD, so a name like that could
// neither be opened nor written under its own name. Here each such byte
// becomes one lone surrogate (U+DC80 to U+DCFF, which no UTF-8 text
// decodes to) and back: the two functions undo each other for every name,
// and are QFile::decodeName / encodeName for every UTF-8 one.
#include <QByteArray>
#include <QString>
#include <cstdint>

namespace platform {

inline QString decodePath(const QByteArray& bytes) {
  QString out;
  out.reserve(bytes.size());
  const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.constData());
  const qsizetype n = bytes.size();
  for (qsizetype i = 0; i < n;) {
    const std::uint8_t b = p[i];
    if (b < 0x80) {
      out += QChar(char16_t(b));
      ++i;
      continue;
    }
    // A well-formed UTF-8 sequence: its length, its smallest code point
    // (no overlong forms) and no surrogates, nothing past U+10FFFF.
    int len = 0;
    char32_t cp = 0, min = 0;
    if (b >= 0xC2 && b <= 0xDF) len = 2, cp = b & 0x1F, min = 0x80;
    else if (b >= 0xE0 && b <= 0xEF) len = 3, cp = b & 0x0F, min = 0x800;
    else if (b >= 0xF0 && b <= 0xF4) len = 4, cp = b & 0x07, min = 0x10000;
    bool ok = len > 0 && i + len <= n;
    for (int k = 1; ok && k < len; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) ok = false;
      cp = cp << 6 | (p[i + k] & 0x3F);
    }
    ok = ok && cp >= min && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
    if (!ok) {
      out += QChar(char16_t(0xDC00 + b));
      ++i;
      continue;
    }
    out += QString::fromUcs4(&cp, 1);
    i += len;
  }
  return out;
}

inline QByteArray encodePath(const QString& path) {
  bool escaped = false;
  for (const QChar c : path) escaped = escaped || (c.unicode() >= 0xDC80 && c.unicode() <= 0xDCFF);
  if (!escaped) return path.toUtf8();
  QByteArray out;
  out.reserve(path.size());
  const qsizetype n = path.size();
  for (qsizetype i = 0; i < n; ++i) {
    const char16_t c = path[i].unicode();
    if (c >= 0xDC80 && c <= 0xDCFF) {
      out += char(c - 0xDC00);
      continue;
    }
    // Everything else, surrogate pairs included, is UTF-8.
    qsizetype len = 1;
    if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(path[i + 1].unicode())) len = 2;
    out += path.mid(i, len).toUtf8();
    i += len - 1;
  }
  return out;
}

}  // namespace platform

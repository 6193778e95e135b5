#include "framework/errors.h"

#include <cstdint>

namespace framework {

int StrToIntDef(const QString& text, int def, bool* ok) {
  if (ok) *ok = false;
  int i = 0;
  const int n = int(text.size());
  while (i < n && text[i] == ' ') ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  int base = 10;
  if (i < n && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= n) return def;
  std::int64_t value = 0;
  for (; i < n; ++i) {
    const QChar c = text[i];
    int digit;
    if (c >= '0' && c <= '9') digit = c.unicode() - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') digit = c.unicode() - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') digit = c.unicode() - 'A' + 10;
    else return def;
    value = value * base + digit;
    // Hexadecimal may spell a full 32-bit pattern (like $FFFFFFFF = -1).
    if (value > (base == 16 ? 0xFFFFFFFFLL : 0x80000000LL)) return def;
  }
  if (base == 16 && value > 0x7FFFFFFF) value -= 0x100000000LL;
  if (negative) value = -value;
  if (value > INT32_MAX || value < INT32_MIN) return def;
  if (ok) *ok = true;
  return static_cast<int>(value);
}

int StrToInt(const QString& text) {
  bool ok = false;
  const int v = StrToIntDef(text, 0, &ok);
  if (!ok) throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(text));
  return v;
}

}  // namespace framework

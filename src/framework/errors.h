#pragma once
// The framework's exceptions. None is caught by the program's own handlers:
// the application's top-level handler shows the message and goes on.
#include <QString>
#include <stdexcept>

namespace forms {

class Exception : public std::runtime_error {
 public:
  explicit Exception(const QString& message) : std::runtime_error(message.toStdString()) {}
  QString message() const { return QString::fromStdString(what()); }
};

class EInOutError : public Exception {
  using Exception::Exception;
};
class EConvertError : public Exception {
  using Exception::Exception;
};
class EFCreateError : public Exception {
  using Exception::Exception;
};
class EFOpenError : public Exception {
  using Exception::Exception;
};
class EInvalidGraphic : public Exception {
  using Exception::Exception;
};

// Reads a whole number as the framework does: optional blanks before, an
// optional sign, decimal digits, or hexadecimal after "$" or "0x". Anything
// else, or a value outside 32 bits, raises "'%s' is not a valid integer value".
int StrToInt(const QString& text);
// The same rules, giving ok = false instead of raising.
int StrToIntDef(const QString& text, int def, bool* ok = nullptr);

}  // namespace forms

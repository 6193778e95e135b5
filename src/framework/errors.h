#pragma once
// The framework's exceptions. None is caught by the program's own handlers:
// the application's top-level handler shows the message and goes on.
#include <QString>
#include "platform/errors.h"

namespace framework {

// The platform's exceptions are the framework's: a handler above catches
// them by these names.
using platform::EConvertError;
using platform::EFCreateError;
using platform::EFOpenError;
using platform::EInOutError;
using platform::EInvalidGraphic;
using platform::Exception;

// Reads a whole number as the framework does: optional blanks before, an
// optional sign, decimal digits, or hexadecimal after "$" or "0x". Anything
// else, or a value outside 32 bits, raises "'%s' is not a valid integer value".
int StrToInt(const QString& text);
// The same rules, giving ok = false instead of raising.
int StrToIntDef(const QString& text, int def, bool* ok = nullptr);

}  // namespace framework

#pragma once
// The exceptions the platform layer throws. They carry the message a user
// sees; the application's top-level handler shows it in an error box, so
// nothing down here ever opens a window itself.
#include <QString>
#include <stdexcept>

namespace platform {

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

}  // namespace platform

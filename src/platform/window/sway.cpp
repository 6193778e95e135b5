#include "platform/window/sway.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace wnd {

namespace {

const char* swaySocket() {
  const char* s = std::getenv("SWAYSOCK");
  return s && *s ? s : nullptr;
}

bool sendAll(int fd, const void* data, std::size_t n) {
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    const ssize_t k = send(fd, p, n, MSG_NOSIGNAL);
    if (k <= 0) return false;
    p += k;
    n -= std::size_t(k);
  }
  return true;
}

// Reads exactly n bytes, waiting at most a second in all: a stuck
// compositor must not freeze the program.
bool readAll(int fd, void* data, std::size_t n) {
  char* p = static_cast<char*>(data);
  while (n > 0) {
    pollfd pfd{fd, POLLIN, 0};
    if (poll(&pfd, 1, 1000) <= 0) return false;
    const ssize_t k = read(fd, p, n);
    if (k <= 0) return false;
    p += k;
    n -= std::size_t(k);
  }
  return true;
}

std::optional<QJsonObject> focusedNode(const QJsonObject& node) {
  if (node.value(QStringLiteral("focused")).toBool()) return node;
  for (const char* list : {"nodes", "floating_nodes"}) {
    for (const QJsonValue& child : node.value(QLatin1String(list)).toArray())
      if (auto hit = focusedNode(child.toObject())) return hit;
  }
  return std::nullopt;
}

std::string swayRequest(std::uint32_t type, const std::string& payload) {
  const char* path = swaySocket();
  if (!path || std::strlen(path) >= sizeof(sockaddr_un{}.sun_path)) return {};
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return {};
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strcpy(addr.sun_path, path);
  std::string reply;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) {
    // i3's IPC: "i3-ipc", payload length, message type.
    char header[14];
    std::memcpy(header, "i3-ipc", 6);
    const std::uint32_t len = std::uint32_t(payload.size());
    std::memcpy(header + 6, &len, 4);
    std::memcpy(header + 10, &type, 4);
    char answer[14];
    std::uint32_t replyLen = 0;
    if (sendAll(fd, header, sizeof header) && sendAll(fd, payload.data(), payload.size()) &&
        readAll(fd, answer, sizeof answer) && std::memcmp(answer, "i3-ipc", 6) == 0) {
      std::memcpy(&replyLen, answer + 6, 4);
      if (replyLen < (1u << 20)) {
        reply.resize(replyLen);
        if (!readAll(fd, reply.data(), replyLen)) reply.clear();
      }
    }
  }
  close(fd);
  return reply;
}

}  // namespace

bool OnSway() { return swaySocket() != nullptr; }

std::string SwayCommand(const std::string& command) { return swayRequest(0, command); }

std::optional<RECT> SwayFocusedWindowRect() {
  if (!OnSway()) return std::nullopt;
  const std::string tree = swayRequest(4, {});  // GET_TREE
  const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(tree));
  const auto node = focusedNode(doc.object());
  // Only a window: a focused workspace or output has no application.
  if (!node || (node->value(QStringLiteral("type")).toString() != QLatin1String("con") &&
                node->value(QStringLiteral("type")).toString() != QLatin1String("floating_con")))
    return std::nullopt;
  if (node->value(QStringLiteral("pid")).isUndefined()) return std::nullopt;
  const QJsonObject r = node->value(QStringLiteral("rect")).toObject();
  const int x = r.value(QStringLiteral("x")).toInt(), y = r.value(QStringLiteral("y")).toInt();
  const int w = r.value(QStringLiteral("width")).toInt(), h = r.value(QStringLiteral("height")).toInt();
  if (w <= 0 || h <= 0) return std::nullopt;
  return RECT{x, y, x + w, y + h};
}

bool SwayMoveWindow(HWND w, int x, int y) {
  if (!w || !OnSway()) return false;
  const std::string reply = SwayCommand("[id=" + std::to_string(w) + "] move absolute position " +
                                        std::to_string(x) + " " + std::to_string(y));
  return reply.find("\"success\": true") != std::string::npos || reply.find("\"success\":true") != std::string::npos;
}

}  // namespace wnd

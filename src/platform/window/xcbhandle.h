#pragma once
// Ownership of what xcb hands out: replies and errors are malloc'ed and
// must be freed, the connection must be disconnected.
#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace wnd {

struct FreeDeleter {
  void operator()(void* p) const noexcept { std::free(p); }
};

// A reply or error from xcb; null when the request failed.
template <typename T>
using XcbPtr = std::unique_ptr<T, FreeDeleter>;

struct ConnectionDeleter {
  void operator()(xcb_connection_t* c) const noexcept { xcb_disconnect(c); }
};
using ConnectionPtr = std::unique_ptr<xcb_connection_t, ConnectionDeleter>;

}  // namespace wnd

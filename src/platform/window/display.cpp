#include "platform/window/display.h"

#include <xcb/shm.h>

#include <cstring>
#include <map>

namespace wnd {

struct Display::AtomCache {
  std::map<std::string, xcb_atom_t> atoms;
};

namespace {

xcb_visualtype_t* rootVisual(xcb_screen_t* s) {
  for (auto d = xcb_screen_allowed_depths_iterator(s); d.rem; xcb_depth_next(&d)) {
    for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v))
      if (v.data->visual_id == s->root_visual) return v.data;
  }
  return nullptr;
}

}  // namespace

Display::Display(const char* name) : atoms_(std::make_shared<AtomCache>()) {
  int screenNo = 0;
  conn_.reset(xcb_connect(name, &screenNo));
  if (!conn_ || xcb_connection_has_error(conn_.get()))
    throw Error("Cannot open the X display" + std::string(name ? std::string(" ") + name : std::string()) +
                "; is DISPLAY set?");
  const xcb_setup_t* setup = xcb_get_setup(conn_.get());
  auto it = xcb_setup_roots_iterator(setup);
  for (int i = 0; i < screenNo && it.rem; ++i) xcb_screen_next(&it);
  if (!it.rem) throw Error("The X display has no screen " + std::to_string(screenNo));
  screen_ = it.data;
  width_ = screen_->width_in_pixels;
  height_ = screen_->height_in_pixels;
  msbFirst_ = setup->image_byte_order == XCB_IMAGE_ORDER_MSB_FIRST;

  bool found = false;
  for (auto f = xcb_setup_pixmap_formats_iterator(setup); f.rem; xcb_format_next(&f)) {
    if (f.data->depth == screen_->root_depth) {
      bpp_ = f.data->bits_per_pixel;
      pad_ = f.data->scanline_pad;
      found = true;
    }
  }
  const xcb_visualtype_t* vis = rootVisual(screen_);
  const int depth = screen_->root_depth;
  const bool trueColor = vis && (vis->_class == XCB_VISUAL_CLASS_TRUE_COLOR || vis->_class == XCB_VISUAL_CLASS_DIRECT_COLOR);
  if (found && trueColor && (depth == 24 || depth == 32) && bpp_ == 32 && vis->red_mask == 0xff0000 &&
      vis->green_mask == 0xff00 && vis->blue_mask == 0xff)
    format_ = gdi::PixelFormat::Rgb32;
  else if (found && trueColor && depth == 16 && bpp_ == 16 && vis->red_mask == 0xf800 && vis->green_mask == 0x7e0 &&
           vis->blue_mask == 0x1f)
    format_ = gdi::PixelFormat::Rgb565;
  else if (found && trueColor && depth == 15 && bpp_ == 16 && vis->red_mask == 0x7c00 && vis->green_mask == 0x3e0 &&
           vis->blue_mask == 0x1f)
    format_ = gdi::PixelFormat::Rgb555;
  else
    throw Error("The X display's pixel layout (depth " + std::to_string(depth) + ", " + std::to_string(bpp_) +
                " bits per pixel) is not supported; use a display of depth 15, 16, 24 or 32");
  if (pad_ != 8 && pad_ != 16 && pad_ != 32) pad_ = 32;

  const xcb_query_extension_reply_t* ext = xcb_get_extension_data(conn_.get(), &xcb_shm_id);
  if (ext && ext->present) {
    XcbPtr<xcb_shm_query_version_reply_t> v(
        xcb_shm_query_version_reply(conn_.get(), xcb_shm_query_version(conn_.get()), nullptr));
    shm_ = v != nullptr;
  }
}

Display& Display::instance() {
  // Opened on first use; a failure raises each time it is asked for, so a
  // program started without a display reports it where it is needed.
  static std::unique_ptr<Display> d;
  if (!d) d = std::make_unique<Display>();
  return *d;
}

xcb_atom_t Display::atom(const char* name) {
  auto found = atoms_->atoms.find(name);
  if (found != atoms_->atoms.end()) return found->second;
  XcbPtr<xcb_intern_atom_reply_t> r(xcb_intern_atom_reply(
      conn(), xcb_intern_atom(conn(), 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr));
  const xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
  if (a != XCB_ATOM_NONE) atoms_->atoms.emplace(name, a);
  return a;
}

bool Display::refreshSize() {
  XcbPtr<xcb_get_geometry_reply_t> g(xcb_get_geometry_reply(conn(), xcb_get_geometry(conn(), root()), nullptr));
  if (!g) return false;
  width_ = g->width;
  height_ = g->height;
  return true;
}

void Display::drainEvents() {
  while (XcbPtr<xcb_generic_event_t> e{xcb_poll_for_event(conn())}) {
  }
}

}  // namespace wnd

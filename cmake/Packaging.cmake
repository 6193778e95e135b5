# The Debian package: `cpack -G DEB` (or `cmake --build . --target package`)
# in the build folder makes kestrel_<version>_<arch>.deb from what
# `cmake --install` puts in place, under /usr.

set(KESTREL_PACKAGE_MAINTAINER "Kestrel developers <kestrel@example.org>"
  CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrel)
set(CPACK_PACKAGE_VENDOR "Kestrel developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "screen recorder: a window or an area of the screen into an AVI file")
set(CPACK_PACKAGE_DESCRIPTION "Kestrel lays a capture frame over a window (and follows the window in front)
or over any area of the screen, and records that rectangle into an AVI file
with one of FFmpeg's encoders: uncompressed, Cinepak, Microsoft Video 1,
Motion JPEG, MPEG-4 Part 2, H.264, FFV1, ZMBV, Ut Video or HuffYUV. A small
remote control below the rectangle starts, pauses and stops the recording.
It also builds an AVI file from a list of BMP files, from its window or
from the command line, without a display.
.
It records X11 desktops, and Wayland desktops through the screen-cast
portal (xdg-desktop-portal) and PipeWire, its own windows running on
XWayland; tested on sway. On Wayland desktops other than sway, Window mode
follows only X11 (XWayland) windows.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The package carries the program, not its debugging information.
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KESTREL_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps reads the libraries the binary links (Qt, FFmpeg, xcb,
# libyuv) and names the packages and versions they come from.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Play Avi and the help pages open through xdg-open.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS xdg-utils)

include(CPack)

/* Clicks the left button at X Y (logical pixels) on the KWin desktop that
 * WAYLAND_DISPLAY names, through KWin's own input-injection protocol
 * (org_kde_kwin_fake_input), as a person's pointer would. KWin lets a
 * program use it when a desktop entry naming that program lists the
 * interface (X-KDE-Wayland-Interfaces). Built and used by
 * scripts/wayland-session.sh and scripts/portal-answer.py on the KDE test
 * desktop, where the portal's dialog has a list that the accessibility
 * bus cannot select in; and by the tests, to press a global shortcut as
 * the keyboard would.
 *   kwin-click X Y
 *   kwin-click --keys CODE...   (evdev key codes, held in order, let go
 *                                in reverse: 29 56 42 67 is Ctrl+Alt+Shift+F9) */
#include <linux/input-event-codes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <wayland-client.h>

#include "fake-input-client-protocol.h"

static struct org_kde_kwin_fake_input *fake;

static void global(void *data, struct wl_registry *registry, uint32_t name, const char *interface,
                   uint32_t version) {
  (void)data;
  if (strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0 && version >= 4)
    fake = wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, 4);
}

static void global_remove(void *data, struct wl_registry *registry, uint32_t name) {
  (void)data, (void)registry, (void)name;
}

static const struct wl_registry_listener listener = {global, global_remove};

int main(int argc, char **argv) {
  const int keys = argc >= 3 && strcmp(argv[1], "--keys") == 0;
  if (!keys && argc != 3) {
    fprintf(stderr, "usage: %s X Y | %s --keys CODE...\n", argv[0], argv[0]);
    return 2;
  }
  struct wl_display *display = wl_display_connect(NULL);
  if (!display) {
    fprintf(stderr, "kwin-click: no Wayland display\n");
    return 1;
  }
  struct wl_registry *registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &listener, NULL);
  wl_display_roundtrip(display);
  if (!fake) {
    fprintf(stderr, "kwin-click: KWin does not offer this program its fake-input interface\n");
    return 1;
  }
  org_kde_kwin_fake_input_authenticate(fake, "Kestrel tests", "answer the screen-share dialog");
  if (keys) {
    for (int i = 2; i < argc; i++) {
      org_kde_kwin_fake_input_keyboard_key(fake, (uint32_t)atoi(argv[i]), WL_KEYBOARD_KEY_STATE_PRESSED);
      wl_display_roundtrip(display);
      usleep(20000);
    }
    for (int i = argc - 1; i >= 2; i--) {
      org_kde_kwin_fake_input_keyboard_key(fake, (uint32_t)atoi(argv[i]), WL_KEYBOARD_KEY_STATE_RELEASED);
      wl_display_roundtrip(display);
      usleep(20000);
    }
    wl_display_disconnect(display);
    return 0;
  }
  org_kde_kwin_fake_input_pointer_motion_absolute(fake, wl_fixed_from_double(atof(argv[1])),
                                                  wl_fixed_from_double(atof(argv[2])));
  wl_display_roundtrip(display);
  usleep(100000);
  org_kde_kwin_fake_input_button(fake, BTN_LEFT, WL_POINTER_BUTTON_STATE_PRESSED);
  wl_display_roundtrip(display);
  usleep(50000);
  org_kde_kwin_fake_input_button(fake, BTN_LEFT, WL_POINTER_BUTTON_STATE_RELEASED);
  wl_display_roundtrip(display);
  wl_display_disconnect(display);
  return 0;
}

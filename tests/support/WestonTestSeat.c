/* A weston module for the display tests: one seat with a pointer and a
 * keyboard, as a kiosk compositor has when a mouse or keyboard is plugged
 * in. Weston's headless back end has no input devices, so it offers no seat
 * at all without this. The seat functions are exported by libweston but
 * declared only in its private headers. */
#include <stdlib.h>

#include <libweston/libweston.h>

void weston_seat_init(struct weston_seat *seat, struct weston_compositor *ec, const char *seat_name);
int weston_seat_init_pointer(struct weston_seat *seat);
int weston_seat_init_keyboard(struct weston_seat *seat, struct xkb_keymap *keymap);

WL_EXPORT int wet_module_init(struct weston_compositor *compositor, int *argc, char *argv[])
{
    (void)argc;
    (void)argv;
    struct weston_seat *seat = calloc(1, sizeof *seat);
    if (seat == NULL) return -1;
    weston_seat_init(seat, compositor, "default");
    weston_seat_init_pointer(seat);
    return weston_seat_init_keyboard(seat, NULL) < 0 ? -1 : 0;
}

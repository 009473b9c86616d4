// Asks a Wayland compositor whether it offers an input seat, before SDL's
// Wayland driver is started: SDL releases before 2.30 dereference the seat's
// record while starting and crash (SIGSEGV) under a compositor that has none,
// such as weston's headless back end or a kiosk compositor without a keyboard.
#pragma once

#include <string>

namespace platform {

enum class WaylandSeat { Offered, Missing, Unreachable };

// Connects to the compositor that WAYLAND_DISPLAY names, reads its globals
// once and disconnects. `detail` says why for Unreachable.
WaylandSeat ProbeWaylandSeat(std::string& detail);

// True when the SDL this program runs with starts its Wayland driver safely
// without a seat.
bool SdlWaylandWorksWithoutSeat();

}  // namespace platform

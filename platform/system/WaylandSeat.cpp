#include "platform/system/WaylandSeat.h"

#include <SDL.h>
#include <wayland-client.h>

#include <cerrno>
#include <cstring>

namespace platform {

namespace {

void OnGlobal(void* data, wl_registry*, std::uint32_t, const char* interface, std::uint32_t)
{
    if (std::strcmp(interface, "wl_seat") == 0) *static_cast<bool*>(data) = true;
}

void OnGlobalRemoved(void*, wl_registry*, std::uint32_t) {}

const wl_registry_listener kRegistryListener = {OnGlobal, OnGlobalRemoved};

}  // namespace

WaylandSeat ProbeWaylandSeat(std::string& detail)
{
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) {
        detail = std::strerror(errno);
        return WaylandSeat::Unreachable;
    }
    bool seat = false;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kRegistryListener, &seat);
    const int answered = wl_display_roundtrip(display);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    if (answered < 0) {
        detail = "the compositor did not answer";
        return WaylandSeat::Unreachable;
    }
    return seat ? WaylandSeat::Offered : WaylandSeat::Missing;
}

bool SdlWaylandWorksWithoutSeat()
{
    SDL_version linked;
    SDL_GetVersion(&linked);
    return SDL_VERSIONNUM(linked.major, linked.minor, linked.patch) >= SDL_VERSIONNUM(2, 30, 0);
}

}  // namespace platform

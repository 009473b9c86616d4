#include "platform/system/Displays.h"

#include <SDL.h>

#include <cstdio>

#include "platform/system/Window.h"

namespace platform {

std::vector<DisplayInfo> ListDisplays()
{
    std::vector<DisplayInfo> displays;
    const int count = SDL_GetNumVideoDisplays();
    for (int i = 0; i < count; ++i) {
        DisplayInfo display;
        display.index = i;
        const char* name = SDL_GetDisplayName(i);
        display.name = name != nullptr ? name : "";
        SDL_DisplayMode mode;
        if (SDL_GetDesktopDisplayMode(i, &mode) == 0) {
            display.width = mode.w;
            display.height = mode.h;
        }
        displays.push_back(display);
    }
    return displays;
}

std::string DescribeDisplays(const std::vector<DisplayInfo>& displays)
{
    if (displays.empty()) return "none";
    std::string text;
    for (const DisplayInfo& display : displays) {
        if (!text.empty()) text += ", ";
        text += std::to_string(display.index) + ": ";
        if (!display.name.empty()) text += display.name + " ";
        text += std::to_string(display.width) + "x" + std::to_string(display.height);
    }
    return text;
}

int PrintDisplays()
{
    WindowMode mode = WindowMode::FullScreen;
    std::string error;
    const bool started = SDL_WasInit(SDL_INIT_VIDEO) != 0 || StartVideo(mode, error);
    if (!started) {
        // Not a failure of the listing: there is simply no display to list.
        std::printf("displays (--display N):\n  (none: %s)\n", error.c_str());
        return 0;
    }
    std::printf("displays (--display N)%s:\n", mode == WindowMode::Headless ? ", offscreen" : "");
    const std::vector<DisplayInfo> displays = ListDisplays();
    if (displays.empty()) std::printf("  (none)\n");
    for (const DisplayInfo& display : displays)
        std::printf("  %d: %s%s%dx%d\n", display.index, display.name.c_str(), display.name.empty() ? "" : " ",
                    display.width, display.height);
    std::fflush(stdout);
    StopVideo();
    return 0;
}

}  // namespace platform

// The displays the video driver offers, for --display N and --list-devices.
// Needs SDL's video subsystem started (StartVideo); PrintDisplays starts it
// itself, as a run would.
#pragma once

#include <string>
#include <vector>

namespace platform {

struct DisplayInfo {
    int index = 0;
    std::string name;
    int width = 0;   // the desktop mode's size in pixels
    int height = 0;
};

std::vector<DisplayInfo> ListDisplays();
// "0: HDMI-1 1920x1080, 1: DP-2 1280x720" ("none" for an empty list).
std::string DescribeDisplays(const std::vector<DisplayInfo>& displays);
// Prints the displays to stdout, for --list-devices. Returns the exit status.
int PrintDisplays();

}  // namespace platform

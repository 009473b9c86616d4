// The command line of the installation, parsed once in main and handed to
// the Application. Every field has the value of a run without options.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct KeyPress {
    int virtualKey = 0;    // VK_ESCAPE, VK_LEFT or VK_RIGHT
    std::uint32_t first = 0;  // first scene step the key is held (steps count from 1)
    std::uint32_t last = 0;   // last scene step, inclusive
};

struct Options {
    bool windowed = false;
    bool headless = false;
    std::string dataDir = "data";
    std::string voiceFile;        // empty: the capture device
    std::string inputDevice;      // empty: the default capture device
    bool listDevices = false;
    std::uint32_t steps = 0;      // 0: run until closed
    bool fast = false;
    std::string framesDir;        // empty: no frames written
    std::uint32_t frameEvery = 1;
    std::vector<KeyPress> presses;
    std::optional<std::uint32_t> seed;
    bool echo = false;
    std::string statsFile;
    bool demo = false;
    bool showHelp = false;
    bool showVersion = false;
};

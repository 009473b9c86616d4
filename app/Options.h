// The command line of the installation, parsed once in main and handed to
// the Application. Every field has the value of a run without options.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/Level.h"

struct KeyPress {
    int virtualKey = 0;    // VK_ESCAPE, VK_LEFT, VK_RIGHT, VK_UP, VK_DOWN, VK_F1 or VK_S
    std::uint32_t first = 0;  // first scene step the key is held (steps count from 1)
    std::uint32_t last = 0;   // last scene step, inclusive
};

struct Options {
    bool windowed = false;
    bool headless = false;
    std::string dataDir = "data";
    std::string userPeerFile;     // the user's theStrings.ini ($XDG_CONFIG_HOME/solvane/); empty: no home
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

    // Operation and tuning. Each default is the behaviour of a run without
    // a settings file; the settings file (solvane.toml) fills these first,
    // then the command line overrides them.
    std::string configFile;       // --config; empty: the user's settings file, if any
    double gainDb = 0;            // applied to captured samples, clipped to 16 bits
    int threshold = level::kDefaultThreshold;  // block peak above which a block is loud
    int displayIndex = 0;
    std::string logLevel = "info";
    std::string statusFile;       // empty: the default place
    bool showStatus = false;      // --show-status: print the status file (statusFile, if given), then exit
    bool showProblems = true;     // on-screen notice of a missing microphone or peer
    bool calibrate = false;
    bool framesOverlay = false;   // the diagnostics panel also in --frames output
    std::string renderer = "gl";  // "gl", or "null": the whole run without drawing
    bool linkAnySource = false;   // accept pictures from any address, not only the peer's
    std::string oscSend;          // host:port; empty: no OSC sent
    std::string oscListen;        // [addr:]port; empty: no OSC listened to
    std::string oscAllow;         // senders taken ("192.168.1.20, 10.0.0.0/24"); empty: every sender
    std::string httpListen;       // addr:port of the web view; empty: none
    std::string httpToken;        // empty: the web view has no controls
    std::string httpTokenFile;    // the token read from this file instead; empty: none
    std::string httpHosts;        // further host names the web view answers to, comma or blank separated
    std::string video;            // .mp4 or .mkv file the run is recorded into; empty: none
    std::uint32_t videoMaxMinutes = 0;  // a new numbered file every this many minutes; 0: one file
};

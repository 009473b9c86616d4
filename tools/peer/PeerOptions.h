// The command line of solvane-peer:
//   solvane-peer [--port P] [--pictures DIR] [--interval-ms MS] [--count N] [--summary-s S] [--places-per-address N]
#pragma once

#include <cstdint>
#include <string>

struct PeerOptions {
    int port = 47000;              // TCP and UDP; 0 lets the system choose
    std::string picturesDir;       // empty: generated pictures
    int intervalMs = 1000;         // between two pictures
    std::uint32_t count = 0;       // pictures to send before ending; 0: until interrupted
    int summarySeconds = 60;       // between two summary lines
    int placesPerAddress = 2;      // of the eight places, the most one machine address may hold
    bool showHelp = false;
    bool showVersion = false;
};

// False with a one-line reason for an unknown option or a bad value.
bool ParsePeerOptions(int argc, const char* const* argv, PeerOptions& options, std::string& error);

const char* PeerUsage();

// What a show-control system may ask of the installation over OSC, and the
// reading of one received datagram into control requests. Pure functions:
// the listener thread calls them, and so do the tests and the fuzzer,
// without a socket.
//
//   /solvane/threshold f   dBFS, kThresholdMinDbfs ... kThresholdMaxDbfs
//   /solvane/gain f        dB, kGainMinDb ... kGainMaxDb
//   /solvane/rotate f      the arrow keys' turn, -1 (left) ... 1 (right), 0 stops
//   /solvane/flash         the white flash
//   /solvane/quit          the closing sequence, as Escape
//
// An integer ('i') is taken wherever a float ('f') is.
// Anything else (another address, other argument types, a value out of
// range or not finite, a datagram that cannot be read) is ignored and
// counted; nothing in a datagram can make these functions read outside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/Level.h"
#include "operator/ControlQueue.h"

// The settings file's limits (common/Level.h): the threshold's 1 ... 32767
// in sample units is -90.3 ... 0 dBFS (0 is taken as the top, 32767).
inline const double kThresholdMinDbfs = level::ThresholdToDbfs(level::kMinThreshold);
inline constexpr double kThresholdMaxDbfs = 0.0;
inline constexpr double kGainMinDb = level::kMinGainDb;
inline constexpr double kGainMaxDb = level::kMaxGainDb;

enum class OscRefusal {
    None,
    Oversize,        // a datagram longer than platform::kOscMaxPacketBytes
    Malformed,       // truncated, bad type tags, bad bundle sizes
    UnknownAddress,
    WrongTypes,
    OutOfRange,
};
const char* RefusalText(OscRefusal refusal);

struct OscControlResult {
    std::vector<ControlRequest> requests;  // in the order they were sent
    std::uint32_t ignored = 0;             // messages (or whole datagrams) refused
    OscRefusal firstRefusal = OscRefusal::None;
    std::string firstRefusedPath;          // empty when the path could not be read
};

// Reads one datagram of `size` bytes (a message or a bundle). A size over
// platform::kOscMaxPacketBytes is refused before data is looked at.
OscControlResult DecodeOscControl(const void* data, std::size_t size);

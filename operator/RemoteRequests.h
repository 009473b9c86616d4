// The web view's readers of outside text that need no server: the listen
// address (from the command line or the settings) and the body of a control
// request. Kept apart so they are tested and fuzzed on their own.
#pragma once

#include <string>

#include "operator/ControlQueue.h"

// "ADDR:PORT", "[IPv6]:PORT" or "PORT" (loopback). Port 0 picks a free port.
bool ParseListenAddress(const std::string& text, std::string& host, int& port, std::string& error);

// What POST /control answers for a body (with the right token): 202 and the
// request to queue, or 400 and why not.
struct ControlAnswer {
    int status = 400;
    std::string message;
    ControlRequest request;
};
ControlAnswer ReadControlBody(const std::string& body);

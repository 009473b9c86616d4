// Process-wide start and stop of the platform libraries (SDL).
#pragma once

#include <string>

namespace platform {

bool StartSystem(std::string& error);
void StopSystem();

// True when standard error is a terminal (progress lines are only drawn there).
bool ErrorOutputIsTerminal();

// For threads that write to sockets through a library that does not ask the
// system to keep quiet about closed connections: a client that hangs up then
// fails that one write instead of ending the process with SIGPIPE. Affects
// the calling thread only.
void IgnoreBrokenPipesOnThisThread();

}  // namespace platform

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

// For helper threads whose work may wait (serving the web view, encoding its
// pictures): the scheduler lets the step loop run first when the machine is
// busy. Affects the calling thread only.
void LowerThisThreadPriority();

// Options for a listening TCP socket made by a library: the address can be
// bound again at once after a restart, but never shared with a second
// program listening on the same port (which would split the clients).
void SetExclusiveListenOptions(int socket);

}  // namespace platform

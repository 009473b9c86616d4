// Process-wide start and stop of the platform libraries (SDL).
#pragma once

#include <string>

namespace platform {

// Also takes over SIGINT and SIGTERM from SDL, so that a stop names the
// signal that asked for it (see TakeStopSignal).
bool StartSystem(std::string& error);
void StopSystem();

// The SIGINT or SIGTERM received since the last call, or 0. The window's
// event pump turns it into WM_CLOSE with the signal's number as lParam.
int TakeStopSignal();

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
// For threads whose work may be dropped when late (the video encoder): the
// lowest priority there is short of never running.
void LowestThisThreadPriority();

}  // namespace platform

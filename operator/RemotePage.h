// The web view's one page: plain HTML, CSS and script in a single document,
// so it works offline on any phone or laptop browser. It polls
// /status.json and /frame.png once a second and /log every two seconds.
#pragma once

#include <string>

// With controls, the page also offers threshold, gain, overlay and close,
// sent with the token the operator types in.
std::string RemotePage(bool controls);

// Feeds arbitrary bytes to the web view's readers of addresses: the listen
// address of the settings and the command line, and a request's Host header
// as a client sends it.
#include "operator/RemoteAccess.h"
#include "operator/RemoteRequests.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string host, error;
    int port = -1;
    if (ParseListenAddress(text, host, port, error)) {
        if (port < 0 || port > 65535 || host.empty()) std::abort();
    } else if (error.empty()) {
        std::abort();
    }
    static const std::vector<std::string> names = {"gallery.example", "Solvane.local."};
    for (const char* local : {"127.0.0.1", "::1", "192.168.1.5", ""}) (void)IsAllowedHost(text, local, names);
    for (const std::string& name : SplitHostNames(text))
        if (name.empty()) std::abort();
    (void)ThrottleKey(text);
    return 0;
}

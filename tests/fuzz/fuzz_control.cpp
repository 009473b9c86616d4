// Feeds arbitrary bytes to the web view's reader of a control request's
// body, as a client holding the token could send them.
#include "operator/RemoteRequests.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    ControlAnswer answer = ReadControlBody(std::string(reinterpret_cast<const char*>(data), size));
    if (answer.status != 202 && answer.status != 400) std::abort();
    if (answer.message.empty()) std::abort();
    // Whatever is accepted is a finite value within the controls' ranges.
    if (answer.status == 202 && (!std::isfinite(answer.request.value) || std::fabs(answer.request.value) > 100))
        std::abort();
    return 0;
}

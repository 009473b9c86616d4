// The rules of an address written for a socket, every form in one table:
// the configuration file, the OSC options and the web view read through it.
#include "platform/sockets/Endpoint.h"

#include <gtest/gtest.h>

namespace {

using platform::EndpointProblem;
using platform::PortZero;

TEST(Endpoint, OneSetOfRulesForEveryForm)
{
    struct Case {
        const char* text;
        PortZero zero;
        EndpointProblem problem;
        platform::Endpoint named;  // what a good text names
    };
    const Case cases[] = {
        {"9000", PortZero::Refused, EndpointProblem::None, {"", 9000}},
        {"00080", PortZero::Refused, EndpointProblem::None, {"", 80}},
        {"1", PortZero::Refused, EndpointProblem::None, {"", 1}},
        {"65535", PortZero::Refused, EndpointProblem::None, {"", 65535}},
        {"desk.local:53000", PortZero::Refused, EndpointProblem::None, {"desk.local", 53000}},
        {"192.168.1.5:9000", PortZero::Refused, EndpointProblem::None, {"192.168.1.5", 9000}},
        {"[::1]:8080", PortZero::Refused, EndpointProblem::None, {"::1", 8080}},
        {"[fe80::1%eth0]:8080", PortZero::Refused, EndpointProblem::None, {"fe80::1%eth0", 8080}},
        {"0", PortZero::Allowed, EndpointProblem::None, {"", 0}},
        {"0.0.0.0:0", PortZero::Allowed, EndpointProblem::None, {"0.0.0.0", 0}},
        // Port 0 only where the caller says it picks a port.
        {"0", PortZero::Refused, EndpointProblem::Port, {"", 0}},
        {"host:0", PortZero::Refused, EndpointProblem::Port, {"", 0}},
        {"", PortZero::Allowed, EndpointProblem::Port, {"", 0}},
        {"host:", PortZero::Refused, EndpointProblem::Port, {"", 0}},
        {"65536", PortZero::Refused, EndpointProblem::Port, {"", 0}},
        {"000080", PortZero::Refused, EndpointProblem::Port, {"", 0}},
        {"4294967297", PortZero::Refused, EndpointProblem::Port, {"", 0}},
        {"+80", PortZero::Refused, EndpointProblem::Port, {"", 0}},
        {"-1", PortZero::Allowed, EndpointProblem::Port, {"", 0}},
        {" 80", PortZero::Refused, EndpointProblem::Port, {"", 0}},
        {"12ab", PortZero::Refused, EndpointProblem::Port, {"", 0}},
        {"host:12.5", PortZero::Refused, EndpointProblem::Port, {"", 0}},
        {":9000", PortZero::Refused, EndpointProblem::NoHost, {"", 0}},
        {"[]:9000", PortZero::Refused, EndpointProblem::NoHost, {"", 0}},
        {"::1:8080", PortZero::Refused, EndpointProblem::UnbracketedIPv6, {"", 0}},
        {"[::1]8080", PortZero::Refused, EndpointProblem::Brackets, {"", 0}},
        {"[::1]", PortZero::Refused, EndpointProblem::Brackets, {"", 0}},
        {"[::1:8080", PortZero::Refused, EndpointProblem::Brackets, {"", 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        platform::Endpoint endpoint{"untouched", -1};
        EXPECT_EQ(platform::ParseEndpoint(c.text, endpoint, c.zero), c.problem);
        if (c.problem == EndpointProblem::None) {
            EXPECT_EQ(endpoint.host, c.named.host);
            EXPECT_EQ(endpoint.port, c.named.port);
        } else {
            EXPECT_EQ(endpoint.host, "untouched") << "a refused text leaves the endpoint as it was";
            EXPECT_EQ(endpoint.port, -1);
        }
    }
}

}  // namespace

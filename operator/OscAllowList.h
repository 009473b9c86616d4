// The senders whose OSC commands are taken ([osc] allow, --osc-allow): IPv4
// addresses and networks, such as "192.168.1.20, 192.168.1.0/24". An empty
// list takes every sender, as a port bound to loopback or to a trusted
// network should. A sender's address in a UDP datagram is not proof of who
// sent it; the list keeps out strangers, not a forger on the same network.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class OscAllowList {
public:
    // Reads a list separated by commas or spaces; false with the reason in
    // `error` (naming the entry) when an entry is not an address or network.
    static bool Parse(const std::string& text, OscAllowList& list, std::string& error);

    bool TakesEveryone() const { return networks_.empty(); }
    // `address` in host byte order, as platform::OscSource holds it.
    bool Allows(std::uint32_t address) const;
    // "192.168.1.20, 192.168.1.0/24" for the log.
    std::string Text() const;

private:
    struct Network {
        std::uint32_t address = 0;
        int prefix = 32;
    };
    std::vector<Network> networks_;
};

#include "operator/OscAllowList.h"

#include <arpa/inet.h>

namespace {

std::uint32_t MaskOf(int prefix) { return prefix == 0 ? 0 : ~std::uint32_t{0} << (32 - prefix); }

}  // namespace

bool OscAllowList::Parse(const std::string& text, OscAllowList& list, std::string& error)
{
    OscAllowList parsed;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find_first_of(", \t", at);
        const std::string entry = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? text.size() : end + 1;
        if (entry.empty()) continue;
        const std::size_t slash = entry.find('/');
        const std::string host = entry.substr(0, slash);
        Network network;
        in_addr raw{};
        bool ok = inet_pton(AF_INET, host.c_str(), &raw) == 1;
        if (ok && slash != std::string::npos) {
            const std::string bits = entry.substr(slash + 1);
            ok = !bits.empty() && bits.size() <= 2 && bits.find_first_not_of("0123456789") == std::string::npos;
            if (ok) network.prefix = std::stoi(bits);
            ok = ok && network.prefix <= 32;
        }
        if (!ok) {
            error = "the OSC allow-list needs IPv4 addresses or networks (192.168.1.20, 192.168.1.0/24), got \"" +
                    entry + "\"";
            return false;
        }
        network.address = ntohl(raw.s_addr) & MaskOf(network.prefix);
        parsed.networks_.push_back(network);
    }
    list = std::move(parsed);
    return true;
}

bool OscAllowList::Allows(std::uint32_t address) const
{
    if (networks_.empty()) return true;
    for (const Network& network : networks_)
        if ((address & MaskOf(network.prefix)) == network.address) return true;
    return false;
}

std::string OscAllowList::Text() const
{
    std::string text;
    for (const Network& network : networks_) {
        in_addr raw{};
        raw.s_addr = htonl(network.address);
        char address[INET_ADDRSTRLEN] = "?";
        inet_ntop(AF_INET, &raw, address, sizeof address);
        if (!text.empty()) text += ", ";
        text += address;
        if (network.prefix != 32) text += "/" + std::to_string(network.prefix);
    }
    return text;
}

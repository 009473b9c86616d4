#include "operator/RemoteAccess.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace {

// An address literal in its 16-byte form (IPv4 as IPv4-mapped), so
// "::ffff:127.0.0.1" from a dual-stack socket equals "127.0.0.1".
bool AddressBytes(const std::string& text, std::array<unsigned char, 16>& bytes)
{
    in_addr v4{};
    if (inet_pton(AF_INET, text.c_str(), &v4) == 1) {
        bytes.fill(0);
        bytes[10] = bytes[11] = 0xff;
        std::memcpy(bytes.data() + 12, &v4, 4);
        return true;
    }
    in6_addr v6{};
    if (inet_pton(AF_INET6, text.c_str(), &v6) == 1) {
        std::memcpy(bytes.data(), &v6, 16);
        return true;
    }
    return false;
}

bool IsLoopback(const std::array<unsigned char, 16>& bytes)
{
    static const unsigned char mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (std::memcmp(bytes.data(), mapped, 12) == 0) return bytes[12] == 127;
    for (int i = 0; i < 15; ++i)
        if (bytes[i] != 0) return false;
    return bytes[15] == 1;
}

std::string Lower(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    // "name." is the same name, fully qualified.
    if (!out.empty() && out.back() == '.') out.pop_back();
    return out;
}

bool IsPort(std::string_view text)
{
    if (text.empty() || text.size() > 5) return false;
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

bool IsAllowedHost(std::string_view header, const std::string& localAddress, const std::vector<std::string>& names)
{
    while (!header.empty() && (header.front() == ' ' || header.front() == '\t')) header.remove_prefix(1);
    while (!header.empty() && (header.back() == ' ' || header.back() == '\t')) header.remove_suffix(1);
    if (header.empty()) return true;

    std::string_view name = header;
    if (header.front() == '[') {
        std::size_t close = header.find(']');
        if (close == std::string_view::npos) return false;
        name = header.substr(1, close - 1);
        std::string_view rest = header.substr(close + 1);
        if (!rest.empty() && (rest.front() != ':' || !IsPort(rest.substr(1)))) return false;
        if (name.find(':') == std::string_view::npos) return false;  // brackets hold IPv6 only
    } else if (std::size_t colon = header.find(':'); colon != std::string_view::npos) {
        if (!IsPort(header.substr(colon + 1))) return false;
        name = header.substr(0, colon);
    }
    if (name.empty()) return false;

    std::array<unsigned char, 16> local{};
    const bool haveLocal = AddressBytes(localAddress, local);
    std::array<unsigned char, 16> named{};
    if (AddressBytes(std::string(name), named)) return haveLocal && named == local;
    if (header.front() == '[') return false;

    const std::string wanted = Lower(name);
    if (wanted == "localhost" && haveLocal && IsLoopback(local)) return true;
    for (const std::string& allowed : names)
        if (Lower(allowed) == wanted) return true;
    return false;
}

std::vector<std::string> SplitHostNames(std::string_view text)
{
    std::vector<std::string> names;
    std::string current;
    for (char c : text) {
        if (c == ',' || c == ' ' || c == '\t') {
            if (!current.empty()) names.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) names.push_back(current);
    return names;
}

TokenThrottle::Clock::duration TokenThrottle::Wait(const std::string& address, Clock::time_point now) const
{
    auto found = entries_.find(address);
    if (found == entries_.end() || found->second.lockedUntil <= now) return Clock::duration::zero();
    return found->second.lockedUntil - now;
}

void TokenThrottle::Failed(const std::string& address, Clock::time_point now)
{
    if (entries_.find(address) == entries_.end() && entries_.size() >= kAddresses) MakeRoom(now);
    Entry& entry = entries_[address];
    // An address quiet for as long as the longest lock starts over.
    if (entry.failures > 0 && now - entry.last > 2 * kLongestLock) entry.failures = 0;
    entry.last = now;
    if (++entry.failures <= kFreeFailures) return;
    Clock::duration lock = std::chrono::seconds(1);
    for (int i = kFreeFailures + 1; i < entry.failures && lock < kLongestLock; ++i) lock *= 2;
    entry.lockedUntil = now + std::min(lock, kLongestLock);
}

void TokenThrottle::Succeeded(const std::string& address) { entries_.erase(address); }

void TokenThrottle::MakeRoom(Clock::time_point now)
{
    for (auto it = entries_.begin(); it != entries_.end();) {
        if (it->second.lockedUntil <= now && now - it->second.last > kLongestLock) it = entries_.erase(it);
        else ++it;
    }
    if (entries_.size() < kAddresses) return;
    auto oldest = std::min_element(entries_.begin(), entries_.end(),
                                   [](const auto& a, const auto& b) { return a.second.last < b.second.last; });
    entries_.erase(oldest);
}

std::string ThrottleKey(const std::string& address)
{
    in6_addr v6{};
    if (address.find(':') == std::string::npos || inet_pton(AF_INET6, address.c_str(), &v6) != 1) return address;
    if (IN6_IS_ADDR_V4MAPPED(&v6)) return address.substr(address.rfind(':') + 1);
    std::memset(reinterpret_cast<unsigned char*>(&v6) + 8, 0, 8);
    char text[INET6_ADDRSTRLEN] = {};
    inet_ntop(AF_INET6, &v6, text, sizeof text);
    return std::string(text) + "/64";
}

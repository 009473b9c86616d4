// Who the web view answers, and how often it lets one address guess the
// token. Both are plain logic over values the server hands in, so they are
// tested and fuzzed without a network.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// Whether a request's Host header names this server: the address the
// connection came in on, "localhost" when that address is a loopback one, or
// one of `names` (the operator's own list). A page served from another name
// that resolves to this machine (DNS rebinding) is refused. An absent header
// (HTTP/1.0) names no one and passes: there is nothing to rebind.
bool IsAllowedHost(std::string_view header, const std::string& localAddress, const std::vector<std::string>& names);

// Splits "name1, name2 name3" (the settings' and the command line's list).
std::vector<std::string> SplitHostNames(std::string_view text);

// Slows down an address that keeps sending wrong tokens: the first
// kFreeFailures pass untouched (a typo), then each further failure locks the
// address out for a second, doubling up to kLongestLock. A right token
// clears the address. Holds at most kAddresses addresses.
class TokenThrottle {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kFreeFailures = 5;
    static constexpr Clock::duration kLongestLock = std::chrono::seconds(60);
    static constexpr std::size_t kAddresses = 1024;

    // Zero when `address` may try a token now, else how long it must wait.
    Clock::duration Wait(const std::string& address, Clock::time_point now) const;
    void Failed(const std::string& address, Clock::time_point now);
    void Succeeded(const std::string& address);

private:
    struct Entry {
        int failures = 0;
        Clock::time_point lockedUntil;
        Clock::time_point last;
    };
    void MakeRoom(Clock::time_point now);
    std::unordered_map<std::string, Entry> entries_;
};

// The key an address is throttled under: IPv6 clients by their /64, since one
// host usually holds the whole prefix.
std::string ThrottleKey(const std::string& address);

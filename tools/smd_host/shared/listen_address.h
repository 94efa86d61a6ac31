#pragma once

#include <string>

// Where the runner's HTTP endpoint listens: an IPv4 address and a TCP port, as `--listen` and a
// site file's `listen:` give it, "[ADDR:]PORT". Without ADDR the endpoint is reached from this
// machine only (127.0.0.1); "0.0.0.0" opens it to every interface.
struct ListenAddress {
    static constexpr const char* kDefaultHost = "127.0.0.1";

    std::string host = kDefaultHost;  // a dotted IPv4 address
    int port = 0;                     // 1 to 65535; 0 takes a free port (the runner prints it)

    // "127.0.0.1:8080".
    std::string text() const { return host + ":" + std::to_string(port); }
};

// Parses "[ADDR:]PORT"; throws std::invalid_argument saying what is wrong (a host name, an IPv6
// address, a port out of range).
ListenAddress parse_listen_address(const std::string& text);

#include "listen_address.h"

#include <arpa/inet.h>

#include <stdexcept>

#include "user_input/parse_number.h"

ListenAddress parse_listen_address(const std::string& text) {
    ListenAddress address;
    const auto colon = text.rfind(':');
    std::string port = text;
    if (colon != std::string::npos) {
        address.host = text.substr(0, colon);
        port = text.substr(colon + 1);
        if (address.host.find(':') != std::string::npos || address.host.find('[') != std::string::npos)
            throw std::invalid_argument(
                "IPv6 addresses are not served: give an IPv4 address such as 0.0.0.0");
        in_addr parsed{};
        if (inet_pton(AF_INET, address.host.c_str(), &parsed) != 1)
            throw std::invalid_argument("'" + address.host + "' is not an IPv4 address such as 127.0.0.1");
    }
    const auto number = parse_decimal(port, 65535);
    if (!number) throw std::invalid_argument("port '" + port + "' is not a number from 0 to 65535");
    address.port = static_cast<int>(*number);
    return address;
}

#include "runtime/debugging.h"

#include <stdexcept>

namespace runtime {

ListenAddress parse_listen_address(const std::string& text, bool anywhere) {
    ListenAddress address;
    address.host = "127.0.0.1";
    std::string port = text;
    const size_t colon = text.rfind(':');
    if (colon != std::string::npos) {
        address.host = text.substr(0, colon);
        port = text.substr(colon + 1);
        if (address.host.size() >= 2 && address.host.front() == '[' && address.host.back() == ']')
            address.host = address.host.substr(1, address.host.size() - 2);
        if (address.host.empty()) address.host = "127.0.0.1";
    }
    const bool digits = !port.empty() && port.size() <= 5 && port.find_first_not_of("0123456789") == std::string::npos;
    if (!digits || std::stoul(port) > 65535)
        throw std::invalid_argument("--gdb " + text + ": expected [HOST:]PORT with a port from 0 to 65535");
    address.port = static_cast<uint16_t>(std::stoul(port));
    try {
        address.addresses = platform::listen_addresses(address.host, address.port, SOCK_STREAM);
    } catch (const platform::AddressError& error) {
        throw std::invalid_argument("--gdb " + text + ": " + error.what());
    }
    address.loopback = platform::is_loopback(address.addresses);
    if (!address.loopback && !anywhere) {
        const std::string where = platform::reached_as(address.host, address.addresses);
        throw std::invalid_argument("--gdb " + text +
                                    ": a debugger on another machine could run anything in module code; listening on " +
                                    where + " takes --gdb-anywhere");
    }
    return address;
}

}  // namespace runtime

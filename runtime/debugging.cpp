#include "runtime/debugging.h"

#include <optional>
#include <stdexcept>

#include "platform/listener.h"
#include "runtime/module_code.h"

namespace runtime {
namespace {

// A write to a debugger that reads nothing gives up after this.
constexpr int kSendTimeoutMs = 10000;

// Where debuggers connect, for as long as the program runs.
std::optional<platform::Listener>& debugger_listener() {
    static std::optional<platform::Listener> listener;
    return listener;
}

}  // namespace

ListenAddress parse_listen_address(const std::string& text, bool anywhere) {
    const std::optional<platform::HostPort> parsed = platform::parse_host_port(text);
    if (!parsed) throw std::invalid_argument("--gdb " + text + ": expected [HOST:]PORT with a port from 0 to 65535");
    ListenAddress address;
    try {
        address = platform::resolve(parsed->host.empty() ? "127.0.0.1" : parsed->host, parsed->port, SOCK_STREAM);
    } catch (const platform::AddressError& error) {
        throw std::invalid_argument("--gdb " + text + ": " + error.what());
    }
    if (!address.loopback && !anywhere) {
        throw std::invalid_argument("--gdb " + text +
                                    ": a debugger on another machine could run anything in module code; listening on " +
                                    address.reached_as() + " takes --gdb-anywhere");
    }
    return address;
}

bool start_debugger(const DebuggerOptions& options, std::function<void(const std::string& line)> say) {
    const ListenAddress address = parse_listen_address(options.address, options.anywhere);
    std::optional<platform::Listener>& listener = debugger_listener();
    try {
        // One debugger at a time: a second one waits only to be refused.
        listener.emplace(address.addresses, options.anywhere, 1);
    } catch (const platform::ListenError& error) {
        throw std::runtime_error("--gdb " + options.address + ": " + error.what());
    }
    make_stub(options.module, say, [&listener](int timeout_ms) -> std::unique_ptr<platform::ByteStream> {
        std::optional<platform::Listener::Accepted> accepted = listener->accept(timeout_ms);
        if (!accepted) return nullptr;
        return std::make_unique<platform::SocketStream>(std::move(*accepted), kSendTimeoutMs);
    });
    if (say) {
        const std::string at = listener->address().text();
        if (!address.loopback)
            say("warning: the debugger's port is open to other machines (" + at +
                "): whoever reaches it runs module code as they like");
        say("waiting for a debugger: target remote " + at +
            (options.module.empty() ? "" : " (" + options.module + ")"));
    }
    return wait_for_debugger();
}

}  // namespace runtime

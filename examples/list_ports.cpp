// Lists this machine's network ports and the state of every VPN client kind through LinkSet.
#include <linkset/linkset.hpp>

#include <chrono>
#include <cstdio>
#include <vector>

// The library's own report lines, mostly errors, go to stderr.
class StderrLog final : public linkset::debug_log {
    void write(const char* line) override { std::fputs(line, stderr); }
};

int main() {
    if (!linkset::library_accepts_this_host()) {
        std::fprintf(stderr, "this LinkSet.dll is older than the SDK this program was built with\n");
        return 1;
    }
    StderrLog log;
    const linkset::debug_output output(log);  // first: it must outlive the manager's threads
    try {
        linkset::manager manager;
        // The ports are known after the first adapter pass, about half a second from the start.
        if (!manager.wait_for_change(std::chrono::seconds(15))) return 1;
        const std::vector<PORT_INFO> ports = manager.ports();
        for (const PORT_INFO& port : ports) {
            std::printf("%s\n", linkset::field_text(port.ConnectionName).c_str());
            for (const linkset::interface_address& entry : linkset::addresses_of(port))
                std::printf("  %s/%d\n", entry.ip.to_string().c_str(), entry.mask.prefix_length());
        }
        std::printf("%zu ports\n", ports.size());

        const linkset::vpn_detection vpn = manager.detect_vpn();  // its plug-ins look every 5 s
        for (linkset::vpn_kind kind : linkset::vpn_kinds)
            std::printf("%s: %s\n", linkset::display_name(kind),
                        vpn.status(kind) == linkset::vpn_state::connected ? "connected" : "not connected");
    } catch (const linkset::start_error& failure) {
        std::fprintf(stderr, "LinkSet could not start: %s\n", failure.what());
        return 1;
    }
    return 0;
}

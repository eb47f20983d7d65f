#include "commands.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "command_line.h"
#include "format.h"
#include "session.h"

namespace {

constexpr std::chrono::milliseconds kWatchPoll{250};
constexpr uint64_t kMsPerSecond = 1000;
constexpr int kJsonIndent = 2;

void Print(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}
void Print(const nlohmann::ordered_json& document, int indent = kJsonIndent) {
    Print(document.dump(indent, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n");
}

// The RAS kind's tunnel is the first port on a VPN device: the connection a person dialled.
std::string ConnectionOf(linkset::vpn_kind kind, linkset::vpn_state state, const std::vector<PORT_INFO>& ports) {
    if (kind != linkset::vpn_kind::ras || state != linkset::vpn_state::connected) return {};
    for (const PORT_INFO& port : ports)
        if (port.IsVpnDevice) return DisplayName(port);
    return {};
}

// A string of the version resource's first translation, e.g. "FileDescription".
std::string VersionString(const std::vector<char>& block, const wchar_t* name) {
    struct Translation {
        WORD language, codePage;
    }* translation = nullptr;
    UINT size = 0;
    if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &size) ||
        size < sizeof(Translation))
        return {};
    wchar_t path[64];
    swprintf(path, 64, L"\\StringFileInfo\\%04x%04x\\%ls", translation->language, translation->codePage, name);
    wchar_t* value = nullptr;
    if (!VerQueryValueW(block.data(), path, reinterpret_cast<void**>(&value), &size) || size == 0) return {};
    std::string utf8(WideCharToMultiByte(CP_UTF8, 0, value, -1, nullptr, 0, nullptr, nullptr), '\0');
    WideCharToMultiByte(CP_UTF8, 0, value, -1, utf8.data(), static_cast<int>(utf8.size()), nullptr, nullptr);
    utf8.resize(utf8.size() - 1);  // the terminator
    return utf8;
}

std::string Dotted(std::initializer_list<unsigned long> parts) {
    std::string text;
    for (unsigned long part : parts) text += (text.empty() ? "" : ".") + std::to_string(part);
    return text;
}
// A version resource's four 16-bit parts.
std::string Dotted(DWORD high, DWORD low) { return Dotted({HIWORD(high), LOWORD(high), HIWORD(low), LOWORD(low)}); }

}  // namespace

int RunPorts(const Options& options) {
    Session session(options);
    if (const int failed = session.Start()) return failed;
    std::vector<PORT_INFO> ports = session.manager().ports(static_cast<linkset::port_filter>(options.filter));
    if (!options.name.empty())
        std::erase_if(ports, [&](const PORT_INFO& port) { return !MatchesPattern(port, options.name); });
    if (options.json) Print(PortsJson(ports));
    else Print(options.brief ? PortsAsBriefText(ports) : PortsAsText(ports));
    return kExitOk;
}

int RunAddresses(const Options& options) {
    Session session(options);
    if (const int failed = session.Start()) return failed;
    const linkset::manager& manager = session.manager();
    const AddressLists lists{manager.gateways(), manager.dns_servers(), manager.wins_servers()};
    if (options.json) Print(AddressesJson(lists));
    else Print(AddressesAsText(lists));
    return kExitOk;
}

int RunWatch(const Options& options) {
    Session session(options);
    if (const int failed = session.Start()) return failed;
    linkset::manager& manager = session.manager();
    std::vector<PORT_INFO> ports = manager.ports();
    const uint32_t first = manager.change_count();
    if (options.json) Print({{"event", "watching"}, {"change", first}, {"ports", ports.size()}}, -1);
    else Print("watching " + std::to_string(ports.size()) + " ports (change " + std::to_string(first) + "); Ctrl+C ends\n");
    for (int64_t changes = 0; options.count == 0 || changes < options.count;) {
        if (!manager.wait_for_change(kWatchPoll)) {
            if (Interrupted()) return kExitInterrupted;
            continue;
        }
        ++changes;
        std::vector<PORT_INFO> fresh = manager.ports();
        const uint32_t now = manager.change_count();
        const std::vector<PortChange> diff = DiffPorts(ports, fresh);
        if (options.json) {
            for (const PortChange& change : diff) Print(ChangeJson(change, now), -1);
        } else {
            std::string lines = "change " + std::to_string(now) + ":\n";
            for (const PortChange& change : diff) lines += "  " + ChangeAsText(change) + "\n";
            Print(diff.empty() ? lines + "  (addresses moved and back; the ports look the same)\n" : lines);
        }
        ports = std::move(fresh);
    }
    return kExitOk;
}

int RunVpn(const Options& options) {
    Session session(options);
    if (const int failed = session.Start(Session::FirstPass::kSkip)) return failed;
    linkset::manager& manager = session.manager();
    const linkset::vpn_detection detection = manager.detect_vpn();
    // The plug-ins look at the system on the cycle's adapter passes.
    std::fprintf(stderr, "running VPN detection for %lld s...\n", static_cast<long long>(options.waitSeconds));
    if (!PauseUnlessInterrupted(static_cast<uint64_t>(options.waitSeconds) * kMsPerSecond)) return kExitInterrupted;

    // The tunnels come from the port list, which the first adapter pass fills.
    if (const int failed = session.WaitForFirstPass()) return failed;
    const std::vector<PORT_INFO> ports = manager.ports();
    std::vector<VpnRow> rows;
    for (linkset::vpn_kind kind : linkset::vpn_kinds) {
        const linkset::vpn_state state = detection.status(kind);
        rows.push_back({kind, state, ConnectionOf(kind, state, ports)});
    }
    const std::vector<linkset::vpn_kind> connected = detection.connected_kinds();
    if (options.json) Print(VpnJson(rows, connected, ports));
    else Print(VpnAsText(rows, connected, ports));
    return kExitOk;
}

int RunVersion(const Options&) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(GetModuleHandleW(L"LinkSet.dll"), path, MAX_PATH);
    std::vector<char> block(GetFileVersionInfoSizeW(path, nullptr));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT size = 0;
    if (block.empty() || !GetFileVersionInfoW(path, 0, static_cast<DWORD>(block.size()), block.data()) ||
        !VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &size) || size < sizeof *fixed) {
        std::fprintf(stderr, "linkset: LinkSet.dll carries no version resource\n");
        return kExitFailed;
    }
    const unsigned long version = LsGetVersion();
    const bool accepted = linkset::library_accepts_this_host();
    std::printf("file version     %s\n", Dotted(fixed->dwFileVersionMS, fixed->dwFileVersionLS).c_str());
    std::printf("product version  %s\n", Dotted(fixed->dwProductVersionMS, fixed->dwProductVersionLS).c_str());
    std::printf("product          %s\n", VersionString(block, L"ProductName").c_str());
    std::printf("description      %s\n", VersionString(block, L"FileDescription").c_str());
    std::printf("interface        0x%08lx (%s)\n", version, Dotted({version >> 24, version >> 16 & 0xFF, version >> 8 & 0xFF, version & 0xFF}).c_str());
    std::printf("this host        built for 0x%08lx: %s\n", static_cast<unsigned long>(LINKSET_INTERFACE_VERSION),
                accepted ? "accepted" : "refused");
    return accepted ? kExitOk : kExitFailed;
}

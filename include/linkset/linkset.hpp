// LinkSet for C++17: a few lines to list ports, errors that cannot be ignored, no manual memory
// handling. Header-only, on top of <linkset/linkset.h> and nothing but what that header exposes:
//
//     linkset::manager manager;                         // throws linkset::start_error
//     manager.wait_for_change(std::chrono::seconds(15));  // the first adapter pass
//     for (const PORT_INFO& port : manager.ports(linkset::port_filter::has_address))
//         std::printf("%s\n", linkset::address(port.IpAddress).to_string().c_str());
//
// The library raises its failures the way Microsoft's runtime raises C++ exceptions. Hosts built
// by MSVC (or Clang in MSVC mode) take them with an ordinary catch; hosts built by MinGW GCC,
// whose catch cannot take such a foreign exception, take them with a vectored exception handler
// around each call into the library. Either way a host sees linkset::start_error when the manager
// cannot start, and std::bad_alloc when the library runs out of memory.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <exception>
#include <iterator>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "linkset.h"

namespace linkset {

// An IPv4 address or mask as the library stores it: network order, 0 for "no address".
class address {
public:
    constexpr address() noexcept = default;
    constexpr explicit address(std::uint32_t network_order) noexcept : value_(network_order) {}

    constexpr std::uint32_t value() const noexcept { return value_; }
    constexpr bool empty() const noexcept { return value_ == 0; }

    // For a mask: the number of leading one bits, or -1 when the ones are not contiguous.
    constexpr int prefix_length() const noexcept {
        const std::uint32_t host_order = (value_ >> 24) | ((value_ >> 8) & 0xFF00u) |
                                         ((value_ << 8) & 0xFF0000u) | (value_ << 24);
        int ones = 0;
        while (ones < 32 && (host_order & (0x80000000u >> ones)) != 0) ++ones;
        const std::uint32_t rest = ones == 32 ? 0 : host_order << ones;
        return rest == 0 ? ones : -1;
    }

    // Dotted text, "192.0.2.1".
    std::string to_string() const {
        std::string text;
        for (int shift = 0; shift < 32; shift += 8) {
            if (shift != 0) text += '.';
            const unsigned part = (value_ >> shift) & 0xFFu;
            if (part >= 100) text += static_cast<char>('0' + part / 100);
            if (part >= 10) text += static_cast<char>('0' + part / 10 % 10);
            text += static_cast<char>('0' + part % 10);
        }
        return text;
    }

    friend constexpr bool operator==(address a, address b) noexcept { return a.value_ == b.value_; }
    friend constexpr bool operator!=(address a, address b) noexcept { return a.value_ != b.value_; }

private:
    std::uint32_t value_ = 0;
};

// One entry of a port's own address list.
struct interface_address {
    address ip;
    address mask;
};

// A record's text field, which the library terminates within the field.
template <std::size_t N>
std::string field_text(const char (&field)[N]) {
    const void* end = std::memchr(field, '\0', N);
    return std::string(field, end ? static_cast<const char*>(end) : field + N);
}

namespace detail {
inline std::uint32_t used_count(std::uint32_t count) noexcept {
    return count < PORT_INFO_MAX_ADDRESSES ? count : PORT_INFO_MAX_ADDRESSES;
}
// A list's 0 entries are no addresses (IP Helper lists an unaddressed adapter as 0.0.0.0).
inline std::vector<address> server_list(const PORT_ADDRESS* entries, std::uint32_t count) {
    std::vector<address> list;
    for (std::uint32_t i = 0; i < used_count(count); ++i)
        if (entries[i].Address != 0) list.emplace_back(entries[i].Address);
    return list;
}
}  // namespace detail

// A record's addresses with their masks, and its DNS and WINS servers: used entries only.
inline std::vector<interface_address> addresses_of(const PORT_INFO& port) {
    std::vector<interface_address> list;
    for (std::uint32_t i = 0; i < detail::used_count(port.IpAddressCount); ++i)
        if (port.IpAddresses[i].Address != 0)
            list.push_back({address(port.IpAddresses[i].Address), address(port.IpAddresses[i].Mask)});
    return list;
}
inline std::vector<address> dns_servers_of(const PORT_INFO& port) {
    return detail::server_list(port.DnsServers, port.DnsServerCount);
}
inline std::vector<address> wins_servers_of(const PORT_INFO& port) {
    return detail::server_list(port.WinsServers, port.WinsServerCount);
}

namespace detail {
constexpr char ascii_lower(char c) noexcept { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr bool is_word_character(char c) noexcept {
    return (c >= '0' && c <= '9') || (ascii_lower(c) >= 'a' && ascii_lower(c) <= 'z');
}
// Greedy with one way back: a mismatch after a `*` lets that `*` take one character more. It
// stays linear for the patterns of a table and needs no recursion. The text ends at its zero or
// at `end`, whichever comes first: a record's field ends with the field.
inline bool matches_pattern(const char* pattern, const char* text, const char* end) noexcept {
    const char* star = nullptr;
    const char* star_text = nullptr;
    while (text != end && *text != '\0') {
        if (*pattern == '*') {
            star = ++pattern;
            star_text = text;
        } else if (*pattern != '\0' && (*pattern == '?' || ascii_lower(*pattern) == ascii_lower(*text))) {
            ++pattern;
            ++text;
        } else if (star != nullptr) {
            pattern = star;
            text = ++star_text;
        } else {
            return false;
        }
    }
    while (*pattern == '*') ++pattern;
    return *pattern == '\0';
}
}  // namespace detail

// Whole-text wildcard match, letters in any case: `*` any run of characters, `?` any one.
inline bool matches_pattern(const char* pattern, const char* text) noexcept {
    return detail::matches_pattern(pattern, text, text + std::strlen(text));
}

// Today's VPN clients, by the traces they leave in a port's record. The library's plug-ins know
// the clients of their own era only; the others still show in the port list, as the virtual
// adapter or the dial-up link their tunnel runs over. This is recognition from those traces,
// not detection: an adapter renamed by hand, or a client whose adapter reads like plain
// Ethernet, goes unrecognised. The README lists the rows with the sources of their patterns.
struct tunnel_family {
    const char* name;  // as people call the client
    // Against the port's description or its connection name (the adapter's name as Windows
    // shows it), whole text, letters in any case; null after the last. Several where a client
    // named its adapter differently over its versions.
    const char* patterns[3];
    // Instead of patterns: a connected dial-up link over a VPN device, which is how Windows
    // itself dials PPTP, L2TP, SSTP and IKEv2 connections.
    bool dialled_vpn_link;
    const char* based_on;
};

inline constexpr tunnel_family tunnel_families[] = {
    {"WireGuard", {"WireGuard Tunnel*"}, false, "WireGuardNT's device description, also Wintun's in earlier releases"},
    {"OpenVPN", {"TAP-Windows Adapter V9*", "TAP-Win32 Adapter V*", "OpenVPN Data Channel Offload*"}, false,
     "the TAP-Windows(6) and ovpn-dco-win device descriptions, and TAP-Win32 before them"},
    {"Cisco Secure Client", {"Cisco AnyConnect*Virtual Miniport Adapter*"}, false,
     "the AnyConnect virtual miniport adapter in ipconfig and systeminfo output"},
    {"GlobalProtect", {"PANGP Virtual Ethernet Adapter*"}, false, "the PANGP adapter in route and Get-NetAdapter output"},
    {"FortiClient", {"Fortinet*Virtual Ethernet Adapter*"}, false, "the SSL VPN and IPsec adapters in route print output"},
    {"Pulse Secure / Ivanti", {"Juniper Networks Virtual Adapter*"}, false, "the Juniper adapter in ipconfig output"},
    {"Check Point Endpoint", {"Check Point Virtual Network Adapter*"}, false,
     "the Endpoint VPN and SSL Network Extender adapters in ipconfig output"},
    {"SonicWall", {"SonicWALL Virtual NIC*"}, false, "the Global VPN Client adapter in WMI queries"},
    {"Zscaler", {"Zscaler Network Adapter*"}, false, "the Z-Tunnel adapter in ipconfig and Get-NetAdapter output"},
    {"Tailscale", {"Tailscale Tunnel*"}, false, "Tailscale's own constant for its Wintun adapter's description"},
    {"ZeroTier", {"ZeroTier Virtual Port*", "ZeroTier One [*]"}, false,
     "the ZeroTier port's description and name in Get-NetIPConfiguration output"},
    {"Windows VPN connection", {}, true, "the record's dial-up flag, VPN-device mark and address"},
};

enum class tunnel_kind {
    none,            // not a tunnel
    known_client,    // the tunnel of a family of the table
    unknown_client,  // an adapter of no family whose description says VPN or tunnel, as a word
};

struct tunnel_class {
    tunnel_kind kind = tunnel_kind::none;
    const tunnel_family* family = nullptr;  // for known_client

    explicit operator bool() const noexcept { return kind != tunnel_kind::none; }
    const char* family_name() const noexcept {
        return kind == tunnel_kind::known_client ? family->name : kind == tunnel_kind::unknown_client ? "unknown client" : "";
    }
};

namespace detail {
// The table's patterns by the character they begin with, made when compiling: every port that
// is no tunnel meets every row, and most ports begin with a letter no pattern begins with.
constexpr std::size_t first_character_slots = 27;  // a letter in any case, or anything else
constexpr std::size_t most_patterns = 32;          // one bit each
constexpr std::size_t first_character_slot(char c) noexcept {
    return ascii_lower(c) >= 'a' && ascii_lower(c) <= 'z' ? static_cast<std::size_t>(ascii_lower(c) - 'a')
                                                          : first_character_slots - 1;
}
struct pattern_index {
    std::uint32_t beginning_with[first_character_slots];  // bit i: pattern i may match such a text
    const char* pattern[most_patterns];                   // in table order
    const tunnel_family* family[most_patterns];
    std::size_t count;
};
constexpr pattern_index make_pattern_index() noexcept {
    pattern_index index{};
    for (const tunnel_family& family : tunnel_families)
        for (const char* pattern : family.patterns) {
            if (pattern == nullptr) continue;
            const std::uint32_t bit = 1u << index.count;
            if (*pattern == '*' || *pattern == '?')
                for (std::uint32_t& slot : index.beginning_with) slot |= bit;
            else
                index.beginning_with[first_character_slot(*pattern)] |= bit;
            index.pattern[index.count] = pattern;
            index.family[index.count++] = &family;
        }
    return index;
}
inline constexpr pattern_index tunnel_patterns = make_pattern_index();
static_assert(tunnel_patterns.count <= most_patterns, "one bit per pattern");

// The family of the first pattern in table order that the description or the name matches.
inline const tunnel_family* family_by_pattern(const PORT_INFO& port) noexcept {
    const std::uint32_t description = tunnel_patterns.beginning_with[first_character_slot(port.Description[0])];
    const std::uint32_t name = tunnel_patterns.beginning_with[first_character_slot(port.ConnectionName[0])];
    for (std::size_t i = 0; i < tunnel_patterns.count && ((description | name) >> i) != 0; ++i) {
        const char* pattern = tunnel_patterns.pattern[i];
        if ((((description >> i) & 1u) != 0 && matches_pattern(pattern, port.Description, std::end(port.Description))) ||
            (((name >> i) & 1u) != 0 && matches_pattern(pattern, port.ConnectionName, std::end(port.ConnectionName))))
            return tunnel_patterns.family[i];
    }
    return nullptr;
}

// Every character's lower case where it belongs to a word (letters and digits), else zero.
struct word_characters {
    char lower[256];
};
constexpr word_characters make_word_characters() noexcept {
    word_characters table{};
    for (int c = 0; c < 256; ++c)
        table.lower[c] = is_word_character(static_cast<char>(c)) ? ascii_lower(static_cast<char>(c)) : '\0';
    return table;
}
inline constexpr word_characters word_character_table = make_word_characters();
inline char word_character(char c) noexcept { return word_character_table.lower[static_cast<unsigned char>(c)]; }

inline bool is_word(const char* begin, const char* end, const char* lower_case) noexcept {
    for (; begin != end; ++begin, ++lower_case)
        if (word_character(*begin) != *lower_case) return false;
    return *lower_case == '\0';
}

// Whether the description says VPN or tunnel, as a whole word in any case. Every port that is
// no known tunnel comes here, so a word is looked at only when it begins like one of the two.
template <std::size_t N>
bool says_tunnel(const char (&field)[N]) noexcept {
    const char* const end = field + N;
    for (const char* at = field; at != end && *at != '\0';) {
        const char first = word_character(*at);
        if (first == '\0') {
            ++at;
            continue;
        }
        const char* const word = at;
        while (at != end && word_character(*at) != '\0') ++at;
        if ((first == 'v' && is_word(word, at, "vpn")) || (first == 't' && is_word(word, at, "tunnel"))) return true;
    }
    return false;
}
}  // namespace detail

// Whether a port is a tunnel, and whose: the first pattern in table order that matches, else
// the dialled row, else an unknown client's adapter by the words of its description. A
// phone-book entry nobody dialled has neither an address nor a description, so it is none: it
// is a connection that could be made, not a tunnel.
inline tunnel_class classify_tunnel(const PORT_INFO& port) noexcept {
    if (const tunnel_family* family = detail::family_by_pattern(port)) return {tunnel_kind::known_client, family};
    if (port.IsDialUp != 0 && port.IsVpnDevice != 0 && port.HasIpAddress != 0)
        for (const tunnel_family& family : tunnel_families)
            if (family.dialled_vpn_link) return {tunnel_kind::known_client, &family};
    if (detail::says_tunnel(port.Description)) return {tunnel_kind::unknown_client, nullptr};
    return {};
}

// A call into the library answered a failure code.
class error : public std::exception {
public:
    error(std::string message, std::int32_t code) : message_(std::move(message)), code_(code) {}
    const char* what() const noexcept override { return message_.c_str(); }
    std::int32_t code() const noexcept { return code_; }

private:
    std::string message_;
    std::int32_t code_;
};

// The manager could not start (its maintenance thread did not run): the library's CQndException,
// copied out and disposed of.
class start_error : public error {
public:
    explicit start_error(const CQndException& raised)
        : error(raised.Reason.c_str(), raised.ReasonCode),
          source_file_(raised.SourceFile.c_str()),
          source_line_(raised.SourceLine) {}
    const std::string& source_file() const noexcept { return source_file_; }
    std::int32_t source_line() const noexcept { return source_line_; }

private:
    std::string source_file_;
    std::int32_t source_line_;
};

namespace detail {

// What a call into the library raised instead of answering.
struct raised {
    CQndException* failure = nullptr;  // owned: dispose of with Delete()
    bool out_of_memory = false;
};

#if LINKSET_MSVC_ABI

template <class Call>
auto guarded(Call call, raised& out) -> decltype(call()) {
    try {
        return call();
    } catch (CQndException* failure) {
        out.failure = failure;
    }
    // std::bad_alloc from the library is an ordinary std::bad_alloc here and passes on.
    return {};
}

#else

// Microsoft's runtime raises a C++ exception as this code with four parameters: a magic number,
// the thrown object, its throw record, and the image base that the record's offsets start from.
constexpr DWORD msvc_exception_code = 0xE06D7363;
constexpr ULONG_PTR msvc_magic = 0x19930520;
constexpr DWORD msvc_parameter_count = 4;
constexpr std::size_t type_name_offset = 2 * sizeof(void*);  // in a type descriptor

// One per guarded call on a thread, innermost first.
struct catch_frame {
    void* resume[5] = {};  // __builtin_setjmp's buffer
    raised result;
    catch_frame* outer = nullptr;
};
inline thread_local catch_frame* innermost_frame = nullptr;

// Does one of the throw record's catchable types carry this decorated name?
inline bool throws_type(const EXCEPTION_RECORD& record, const char* decorated) {
    const char* base = reinterpret_cast<const char*>(record.ExceptionInformation[3]);
    const auto* info = reinterpret_cast<const std::int32_t*>(record.ExceptionInformation[2]);
    if (base == nullptr || info == nullptr) return false;
    const auto* types = reinterpret_cast<const std::int32_t*>(base + info[3]);
    for (std::int32_t i = 1; i <= types[0]; ++i) {
        const auto* type = reinterpret_cast<const std::int32_t*>(base + types[i]);
        if (std::strcmp(base + type[1] + type_name_offset, decorated) == 0) return true;
    }
    return false;
}

[[noreturn]] inline void resume_innermost() { __builtin_longjmp(innermost_frame->resume, 1); }

inline LONG CALLBACK take_library_exception(EXCEPTION_POINTERS* pointers) {
    const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
    catch_frame* frame = innermost_frame;
    if (frame == nullptr || record.ExceptionCode != msvc_exception_code ||
        record.NumberParameters != msvc_parameter_count || record.ExceptionInformation[0] != msvc_magic)
        return EXCEPTION_CONTINUE_SEARCH;
    if (throws_type(record, ".PEAVCQndException@@"))
        frame->result.failure = *reinterpret_cast<CQndException**>(record.ExceptionInformation[1]);
    else if (throws_type(record, ".?AVbad_alloc@std@@"))
        frame->result.out_of_memory = true;  // its what() text is static: nothing to free
    else
        return EXCEPTION_CONTINUE_SEARCH;
    // Back into the guarded call, as a catch block would be entered: the library raises only
    // after leaving its own scopes, so the frames in between hold nothing to release.
    CONTEXT& context = *pointers->ContextRecord;
    context.Rsp = (context.Rsp & ~DWORD64{0xF}) - 8;
    context.Rip = reinterpret_cast<DWORD64>(&resume_innermost);
    return EXCEPTION_CONTINUE_EXECUTION;
}

class vectored_handler {
public:
    vectored_handler() : handle_(AddVectoredExceptionHandler(1, &take_library_exception)) {}
    ~vectored_handler() { RemoveVectoredExceptionHandler(handle_); }
    vectored_handler(const vectored_handler&) = delete;
    vectored_handler& operator=(const vectored_handler&) = delete;

private:
    PVOID handle_;
};

template <class Call>
auto guarded(Call call, raised& out) -> decltype(call()) {
    catch_frame frame;
    frame.outer = innermost_frame;
    const vectored_handler handler;
    volatile decltype(call()) result{};
    innermost_frame = &frame;
    if (__builtin_setjmp(frame.resume) == 0) result = call();
    innermost_frame = frame.outer;
    out = frame.result;
    return result;
}

#endif

// Calls into the library; what it raised becomes start_error or std::bad_alloc.
template <class Call>
auto call(Call library_call) -> decltype(library_call()) {
    raised what;
    const auto result = guarded(library_call, what);
    if (what.failure != nullptr) {
        const start_error failure(*what.failure);
        what.failure->Delete();
        throw failure;
    }
    if (what.out_of_memory) throw std::bad_alloc();
    return result;
}

inline void check(std::int32_t result, const char* operation) {
    if (result != LS_OK) throw error(std::string(operation) + " failed", result);
}

}  // namespace detail

// Whether the loaded library accepts a host built against this SDK.
inline bool library_accepts_this_host() { return LsIsGoodVersion(LINKSET_INTERFACE_VERSION) == 1; }

// Sends the library's report lines (mostly errors) to write(). Install it with debug_output.
class debug_log : public IDebugLog {
public:
    virtual void write(const char* line) = 0;

protected:
    ~debug_log() = default;

private:
    bool IsEnabled() override { return true; }
    void Write(const outputstr* line) override { write(line->c_str()); }
};

// Installs a debug log for its lifetime. The library's threads may write at any time, so create
// it before the manager and let it end after: declare it first.
class debug_output {
public:
    explicit debug_output(IDebugLog& log) noexcept { LsSetDebugOutput(&log); }
    ~debug_output() { LsSetDebugOutput(nullptr); }
    debug_output(const debug_output&) = delete;
    debug_output& operator=(const debug_output&) = delete;
};

enum class port_filter : std::int32_t {
    all = PORT_FILTER_ALL,
    has_address = PORT_FILTER_HAS_ADDRESS,
    has_gateway = PORT_FILTER_HAS_GATEWAY,
};

enum class vpn_kind : std::uint32_t {
    cisco3000 = PLUGIN_CISCO3000,
    netscreen = PLUGIN_NETSCREEN,
    checkpoint = PLUGIN_CHECKPOINT,
    safenet = PLUGIN_SAFENET,
    ras = PLUGIN_RAS,
    aventail = PLUGIN_AVENTAIL,
    alcatel = PLUGIN_ALCATEL,
    juniper_ssl = PLUGIN_JUNIPERSSL,
    any = PLUGIN_ALL,  // for status(): is any kind connected?
};

enum class vpn_state { not_connected, connected, no_plugin };

class manager;

// VPN detection, open for the scope's lifetime. The plug-ins look at the system on the adapter
// passes, every 5 s; ask after a pass or two. It must not outlive its manager.
class vpn_detection {
public:
    vpn_detection(vpn_detection&& other) noexcept : manager_(std::exchange(other.manager_, nullptr)) {}
    vpn_detection& operator=(vpn_detection&& other) noexcept {
        if (this != &other) {
            close();
            manager_ = std::exchange(other.manager_, nullptr);
        }
        return *this;
    }
    ~vpn_detection() { close(); }

    // The kinds whose plug-in reports a tunnel up, in plug-in order.
    std::vector<vpn_kind> connected_kinds() const {
        std::uint32_t count = 0, needed = 0;
        detail::check(detail::call([&] { return manager_->GetVPNDetectionResult(nullptr, 0, &count, &needed); }),
                      "GetVPNDetectionResult");
        std::vector<std::uint32_t> types(needed);
        count = needed;
        const auto bytes = static_cast<std::uint32_t>(types.size() * sizeof(std::uint32_t));
        detail::check(detail::call([&] { return manager_->GetVPNDetectionResult(types.data(), bytes, &count, &needed); }),
                      "GetVPNDetectionResult");
        // A plug-in that connected in between makes the list longer than asked for: it comes
        // back empty, and the next question sees it.
        return std::vector<vpn_kind>(reinterpret_cast<const vpn_kind*>(types.data()),
                                     reinterpret_cast<const vpn_kind*>(types.data()) + count);
    }

    vpn_state status(vpn_kind kind) const {
        std::uint32_t connected = 0;
        const std::int32_t result =
            detail::call([&] { return manager_->CheckVPNStatus(static_cast<EPLUGINTYPE>(kind), &connected); });
        if (result == LS_ERROR_NO_PLUGIN) return vpn_state::no_plugin;
        detail::check(result, "CheckVPNStatus");
        return connected == 1 ? vpn_state::connected : vpn_state::not_connected;
    }

private:
    friend class manager;
    void close() noexcept {
        if (manager_ != nullptr) manager_->OpenVPNDetector(0);
    }
    explicit vpn_detection(ILinkSetManager* owner) : manager_(owner) {
        detail::check(detail::call([&] { return manager_->OpenVPNDetector(1); }), "OpenVPNDetector");
    }
    ILinkSetManager* manager_;
};

// The library's manager, owned: created by the library, deleted through it. Move-only.
class manager {
public:
    // Starts the maintenance thread. Throws start_error when it cannot, std::bad_alloc when the
    // library runs out of memory.
    manager() : manager_(detail::call([] { return LsCreateLinkSetManager(); })) {
        if (manager_ == nullptr) throw std::bad_alloc();
    }
    manager(manager&& other) noexcept
        : manager_(std::exchange(other.manager_, nullptr)), seen_(other.seen_) {}
    manager& operator=(manager&& other) noexcept {
        std::swap(manager_, other.manager_);
        std::swap(seen_, other.seen_);
        return *this;
    }
    ~manager() { LsDeleteLinkSetManager(manager_); }

    // Copies of the records that pass the filter, in the library's order (dial-up ports first).
    std::vector<PORT_INFO> ports(port_filter filter = port_filter::all) const {
        std::vector<PORT_INFO> records;
        for (;;) {
            // Zeroed every time, so two snapshots of the same port are equal byte for byte.
            if (!records.empty()) std::memset(static_cast<void*>(records.data()), 0, records.size() * sizeof(PORT_INFO));
            std::uint32_t copied = 0, total = 0;
            const auto bytes = static_cast<std::uint32_t>(records.size() * sizeof(PORT_INFO));
            PORT_INFO* buffer = records.empty() ? nullptr : records.data();
            detail::check(detail::call([&] {
                              return manager_->GetPorts(buffer, bytes, &copied, &total, static_cast<std::int32_t>(filter));
                          }),
                          "GetPorts");
            // Ports may come between asking for the count and for the records: ask again.
            if (total <= records.size()) {
                records.resize(copied);
                return records;
            }
            records.resize(total);
        }
    }

    // The address queries: the gateways (0 included) and the DNS and WINS servers of the first
    // 32 ports that have an address.
    std::vector<address> gateways() const { return addresses(&ILinkSetManager::GetGateways, "GetGateways"); }
    std::vector<address> dns_servers() const { return addresses(&ILinkSetManager::GetDnsServers, "GetDnsServers"); }
    std::vector<address> wins_servers() const { return addresses(&ILinkSetManager::GetWinsServers, "GetWinsServers"); }

    // Grows by one each time the ports' addresses change; 0 until the first adapter pass.
    std::uint32_t change_count() const noexcept { return manager_->GetChangeCount(); }

    // Waits until the change counter differs from the value this handle last saw here (0 at
    // first, so the first call waits for the first adapter pass). False when the time ran out.
    bool wait_for_change(std::chrono::milliseconds timeout) {
        constexpr DWORD poll_ms = 50;
        const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeout.count() > 0 ? timeout.count() : 0);
        for (;;) {
            const std::uint32_t now = change_count();
            if (now != seen_) {
                seen_ = now;
                return true;
            }
            const ULONGLONG tick = GetTickCount64();
            if (tick >= deadline) return false;
            Sleep(deadline - tick < poll_ms ? static_cast<DWORD>(deadline - tick) : poll_ms);
        }
    }

    vpn_detection detect_vpn() { return vpn_detection(manager_); }

    // The interface itself, for what this layer does not wrap.
    ILinkSetManager* get() const noexcept { return manager_; }

private:
    using address_query = std::int32_t (ILinkSetManager::*)(std::uint32_t*, std::uint32_t, std::uint32_t*);

    std::vector<address> addresses(address_query query, const char* operation) const {
        // A null array is too small even for no addresses, so the buffer always has a slot.
        std::vector<std::uint32_t> values(1);
        for (;;) {
            std::uint32_t count = 0;
            const auto bytes = static_cast<std::uint32_t>(values.size() * sizeof(std::uint32_t));
            const std::int32_t result = detail::call([&] { return (manager_->*query)(values.data(), bytes, &count); });
            if (result != LS_ERROR_BUFFER_TOO_SMALL) {
                detail::check(result, operation);
                return std::vector<address>(values.begin(), values.begin() + count);
            }
            values.resize(count);  // the number needed, told even when the array is too small
        }
    }

    ILinkSetManager* manager_;
    std::uint32_t seen_ = 0;
};

// How people call each kind.
inline const char* display_name(vpn_kind kind) noexcept {
    switch (kind) {
        case vpn_kind::cisco3000: return "Cisco 3000 VPN Client";
        case vpn_kind::netscreen: return "NETSCREEN VPN Client";
        case vpn_kind::checkpoint: return "CHECKPOINT VPN Client";
        case vpn_kind::safenet: return "SafeNet VPN Client";
        case vpn_kind::ras: return "RAS VPN";
        case vpn_kind::aventail: return "AVENTAIL VPN Client";
        case vpn_kind::alcatel: return "ALCATEL VPN Client";
        case vpn_kind::juniper_ssl: return "Juniper VPN Client";
        case vpn_kind::any: return "any VPN client";
    }
    return "unknown VPN client";
}

// Every kind a plug-in may detect, in type order.
inline constexpr vpn_kind vpn_kinds[] = {
    vpn_kind::cisco3000, vpn_kind::netscreen, vpn_kind::checkpoint, vpn_kind::safenet,
    vpn_kind::ras,       vpn_kind::aventail,  vpn_kind::alcatel,    vpn_kind::juniper_ssl,
};

}  // namespace linkset

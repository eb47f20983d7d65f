// Plug-ins whose answers a test sets, registered through a catalog as the library's own classes
// are. Every call checks that the object is alive and that no other caller is inside it, so a
// detector that uses a deleted plug-in or lets two callers in at once shows in `violations`.
#pragma once

#include <windows.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "vpn/plugin_catalog.h"
#include "vpn/type_list.h"
#include "vpn/vpn_config.h"

class ScriptedPlugIn;

// Plug-ins are built and deleted only on the thread that configures the detector.
struct Script {
    std::vector<std::string> journal;   // "+3" built, "-3" deleted, "I3" / "U3" hook run
    std::vector<ScriptedPlugIn*> live;  // in creation order
    ILinkSetManager* managerGiven = nullptr;
    uint32_t connectedAtBirth = 0;
    std::atomic<int> violations{0};

    void Reset() {
        journal.clear();
        managerGiven = nullptr;
        connectedAtBirth = 0;
        violations = 0;
    }
};
inline Script g_script;

class ScriptedPlugIn : public IVPNPlugIn {
public:
    explicit ScriptedPlugIn(uint32_t type) : m_type(type) {
        Note('+');
        g_script.live.push_back(this);
    }
    ~ScriptedPlugIn() override {
        Visit visit(*this);
        Note('-');
        std::erase(g_script.live, this);
        m_canary = kDeleted;
    }
    // A deleted plug-in keeps its memory, poisoned, so a late call is seen rather than undefined.
    static void* operator new(std::size_t size) { return ::operator new(size); }
    static void operator delete(void*) {}

    int32_t GetName(outputstr*) override { return kPlugInNoText; }
    int32_t GetDescription(outputstr*) override { return kPlugInNoText; }
    uint32_t GetType() override {
        Visit visit(*this);
        return m_type;
    }
    void Update() override {
        Visit visit(*this);
        SwitchToThread();  // widens the window in which a second caller could come in
    }
    uint32_t IsConnected() override {
        Visit visit(*this);
        ++connectedCalls;
        return connected;
    }
    int32_t Install() override { return Note('I'); }
    int32_t Uninstall() override { return Note('U'); }

    std::atomic<uint32_t> connected{g_script.connectedAtBirth};
    std::atomic<int> connectedCalls{0};

private:
    static constexpr uint32_t kAlive = 0xA11FE;
    static constexpr uint32_t kDeleted = 0xDEAD;

    struct Visit {
        explicit Visit(ScriptedPlugIn& plugIn) : visited(plugIn) {
            if (plugIn.m_canary != kAlive || plugIn.m_inside++ != 0) ++g_script.violations;
        }
        ~Visit() { --visited.m_inside; }
        ScriptedPlugIn& visited;
    };
    int32_t Note(char what) {
        g_script.journal.push_back(what + std::to_string(m_type));
        return 0;
    }

    const uint32_t m_type;
    std::atomic<uint32_t> m_canary{kAlive};
    std::atomic<int> m_inside{0};
};

// One class per kind; like the kinds that read the port list, RAS and Juniper SSL take the manager.
template <uint32_t Type>
struct Scripted final : ScriptedPlugIn {
    Scripted() : ScriptedPlugIn(Type) {}
    explicit Scripted(ILinkSetManager* manager)
        requires(Type == PLUGIN_RAS || Type == PLUGIN_JUNIPERSSL)
        : ScriptedPlugIn(Type) {
        g_script.managerGiven = manager;
    }
};

template <std::size_t... Index>
constexpr auto ScriptedClasses(std::index_sequence<Index...>) {
    return std::array{PlugInClass{Index + 1, &MakePlugIn<Scripted<Index + 1>>}...};
}
// Kinds 1 to 8, as in the library's own catalog.
inline constexpr auto kScriptedCatalog = ScriptedClasses(std::make_index_sequence<std::size(kEveryPlugInType)>());

// Reports a fixed kind list, duplicates allowed; can refuse either of the detector's two reads
// or run something just before the second.
class ScriptedConfig final : public CVPNConfig {
public:
    explicit ScriptedConfig(std::vector<uint32_t> kinds) : listed(std::move(kinds)) {}
    int32_t GetEnabledPlugIns(uint32_t* types, uint32_t bufferBytes, uint32_t* count,
                              uint32_t* needed) const override {
        const bool first = ++reads == 1;
        if (!first && beforeSecondRead) beforeSecondRead();
        AnswerTypeList(listed, types, bufferBytes, count, needed);
        return first ? firstAnswer : secondAnswer;
    }
    std::vector<uint32_t> listed;
    int32_t firstAnswer = kConfigDone;
    int32_t secondAnswer = kConfigDone;
    std::function<void()> beforeSecondRead;
    mutable int reads = 0;
};

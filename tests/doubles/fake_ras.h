// A made-up machine's Remote Access data, which a test hands to the Remote Access double
// (rasapi32_double.cpp) through its export SetFakeRas.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// How reading one entry's properties goes, as it goes on a real system.
enum class RasEntryFault {
    None,
    GrowsBeforeRead,  // the entry grows between the size query and the read
    ReadFails,        // the read is refused (access denied)
};

struct FakeRasEntry {
    std::string name;
    std::string deviceType = "modem";
    RasEntryFault fault = RasEntryFault::None;
};

struct FakeRasConnection {
    std::string entryName;
    std::string deviceType;
    std::string ipAddress;  // of its PPP IP projection
};

struct FakeRas {
    std::vector<FakeRasEntry> phoneBook;  // the default phone book, in its order
    std::vector<FakeRasConnection> connections;
};

// Exports of the double: installs a copy of the data (null: none), and tells how often the
// phone book was listed.
using SetFakeRasFunction = void (*)(const FakeRas* machine);
using PhoneBookListingsFunction = LONG (*)();

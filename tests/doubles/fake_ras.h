// A made-up machine's Remote Access data, handed to the Remote Access double by SetFakeRas.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Reading an entry's properties: as asked, grown between size query and read, or access denied.
enum class RasEntryFault { None, GrowsBeforeRead, ReadFails };

struct FakeRasEntry {
    std::string name, deviceType = "modem";
    RasEntryFault fault = RasEntryFault::None;
};
struct FakeRasConnection {
    std::string entryName, deviceType, ipAddress;  // the address of its PPP IP projection
};
struct FakeRas {
    std::vector<FakeRasEntry> phoneBook;  // the default phone book, in its order
    std::vector<FakeRasConnection> connections;
};

// Exports: install a copy (null: nothing); tell how often the book was listed.
using SetFakeRasFunction = void (*)(const FakeRas* machine);
using PhoneBookListingsFunction = LONG (*)();

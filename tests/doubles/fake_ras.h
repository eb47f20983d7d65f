// A made-up machine's Remote Access data, handed to the Remote Access double
// (rasapi32_double.cpp) through its export SetFakeRas.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// How reading an entry's properties goes: as asked, grown between the size query and the read,
// or refused (access denied).
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

// Exports of the double: installs a copy (null: nothing), and how often the book was listed.
using SetFakeRasFunction = void (*)(const FakeRas* machine);
using PhoneBookListingsFunction = LONG (*)();

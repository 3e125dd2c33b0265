// A scripted stand-in for the camera and the platform seams the firmware
// tool reaches: discovery, open, the WinUSB calls, sleep and the key wait.
//
// It models the flash through the indirect registers the way the tool
// expects the camera to behave (address, auto-incrementing data port,
// sector erase with a busy status, 256-byte blocks, restart) and records
// every request and every sleep in order, so a test can hold the whole
// conversation against what it expects.
#pragma once
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "platform/usb.h"

namespace fwtest {

struct Event {
    enum Kind { Get, Set, GetBlock, SetBlock, Sleep, Find, Open, Free };
    Kind kind = Get;
    uint16_t reg = 0;
    uint32_t value = 0;            // value read or written; sleep milliseconds
    bool ok = true;
    ix::platform::SetupPacket setup{};
    std::vector<uint8_t> data;     // block payload
};

// Fail the `skip`+1-th to `skip`+`count`-th request of a kind on a register
// (reg -1: any register) with `error`.
struct FailRule {
    Event::Kind kind;
    int reg;
    int skip;
    int count;
    uint32_t error;
};

struct FakeCamera {
    // Discovery and open.
    ix::platform::Guid interfaceClass{};
    ix::platform::FindResult findResult = ix::platform::FindResult::Found;
    uint32_t findError = 0;
    bool openFails = false;
    bool initFails = false, queryFails = false, altFails = false;
    uint32_t openError = 0;
    // After the restart command the camera is off the bus for this many
    // discoveries; -1 keeps it away for good.
    int absentAfterRestart = 2;
    int absentLeft = 0;
    bool restarted = false;

    // Registers.
    uint16_t version = 0x0107;
    uint16_t versionAfterRestart = 0x0108;
    bool versionReadFails = false;
    std::deque<uint16_t> eraseStatus;  // what register 66 reads after each erase command; empty: 0
    uint16_t statusDefault = 0;        // once the script is used up
    bool blockReadsRefused = false;
    uint32_t shortBlockRead = 0;       // nonzero: block reads deliver only this many bytes
    std::vector<FailRule> failures;

    // Flash, little-endian words as the camera stores them.
    std::vector<uint8_t> flash = std::vector<uint8_t>(1u << 20, 0xFF);
    uint16_t index = 0;
    uint32_t address = 0;
    std::vector<uint32_t> erasedSectors;
    int64_t corruptAddress = -1;       // a read of the word here returns corruptValue
    uint16_t corruptValue = 0;

    // Console.
    bool console = false;
    int keyReads = 0;

    std::vector<Event> events;
    int openDevices = 0;

    std::vector<Event> requests(Event::Kind kind, int reg = -1) const;
    std::vector<uint32_t> sleeps() const;
};

// The one camera the fake platform functions talk to; reset by each test.
FakeCamera &camera();
void resetCamera();

// Captured console text and level 1 debug lines.
std::wstring &consoleText();
std::vector<std::wstring> &debugLines();
void captureOutput();
bool debugHas(const std::wstring &needle);

} // namespace fwtest

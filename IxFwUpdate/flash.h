// The firmware tool's side of the camera's flash protocol: discovery, open,
// the logged register requests, and erase / program / verify / restart.
//
// Every request is a vendor control request on the default pipe (register
// read 0x61, write 0x60, register number in wIndex). The flash is reached
// through the indirect registers: write register 64 with an index, then
// read or write register 65.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "IxFwUpdate/hex.h"
#include "platform/usb.h"

namespace ix::fw {

// Camera registers.
inline constexpr uint16_t kRegFirmwareVersion = 8;   // major high byte, minor low byte
inline constexpr uint16_t kRegIndirectIndex = 64;
inline constexpr uint16_t kRegIndirectData = 65;
inline constexpr uint16_t kRegFlashStatus = 66;      // 0 ready, 0xFFFF failed, else busy

// Indirect registers behind 64/65.
inline constexpr uint16_t kIndFlashCommand = 8;      // 0x55 erases the addressed sector
inline constexpr uint16_t kIndFlashAddressLow = 9;
inline constexpr uint16_t kIndFlashAddressHigh = 10;
inline constexpr uint16_t kIndFlashData = 11;        // auto-increments by one word per access
inline constexpr uint16_t kIndRestart = 49;          // 1000 makes the camera re-enumerate

inline constexpr uint16_t kFlashEraseSector = 0x55;
inline constexpr uint16_t kRestartCommand = 1000;
inline constexpr uint16_t kFlashStatusFailed = 0xFFFF;

inline constexpr uint32_t kSectorBytes = 65536;
inline constexpr uint32_t kBlockBytes = 256;          // one page, one block request
inline constexpr uint32_t kPageWords = 128;

inline constexpr uint32_t kErasePollMs = 100;
// A 64 KiB sector erases in well under a second on the camera's flash; a
// status that stays busy for 30 s means the flash or its controller hung, and
// waiting longer would only keep the tool from ever ending.
inline constexpr uint32_t kMaxErasePolls = 300;
inline constexpr uint32_t kRestartWaitMs = 1000;

// Device state of one run.
struct FlashDevice {
    platform::Guid interfaceClass{};
    std::unique_ptr<platform::UsbDevice> device;
    bool winUsbInitialized = false;
    bool blockMode = false;
};

// Device path of the first present interface of the class, at most 511
// units. False on success, true on failure (logged).
bool getDeviceName(const platform::Guid &interfaceClass, std::u16string &path);

int initDevice(FlashDevice &dev);
void closeDevice(FlashDevice &dev);

int ixGet(FlashDevice &dev, uint16_t reg, uint16_t *value);
int ixSet(FlashDevice &dev, uint16_t reg, uint16_t value);
// 256 bytes through register 65.
int ixGetBlock(FlashDevice &dev, uint8_t *block);
int ixSetBlock(FlashDevice &dev, const uint8_t *block);

void setFlashAddress(FlashDevice &dev, uint32_t address);
int testBlockRead(FlashDevice &dev);
int eraseFlash(FlashDevice &dev, const FirmwareImage &fw);
int writePage(FlashDevice &dev, uint32_t address, const uint16_t *words);
int VerifyFlash(FlashDevice &dev, const uint16_t *words, uint32_t address);
int updateFw(FlashDevice &dev, const FirmwareImage &fw);

} // namespace ix::fw

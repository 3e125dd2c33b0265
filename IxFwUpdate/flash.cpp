#include "IxFwUpdate/flash.h"

#include <cstring>

#include "IxFwUpdate/os.h"
#include "IxFwUpdate/output.h"
#include "platform/sys.h"
#include "usb/transport.h"

namespace ix::fw {

namespace {

uint32_t lastErrorOf(const FlashDevice &dev) {
    return dev.device ? dev.device->lastError() : platform::kErrorDeviceNotConnected;
}

bool transfer(FlashDevice &dev, const platform::SetupPacket &setup, uint8_t *data, uint32_t *transferred) {
    *transferred = 0;
    if (!dev.device || !dev.winUsbInitialized) return false;
    return dev.device->controlTransfer(setup, data, transferred);
}

bool pageIsBlank(const FirmwareImage &fw, uint32_t address, uint32_t bytes) {
    for (uint32_t i = 0; i < bytes; ++i) {
        if (fw.image[address + i] != 0xFF) return false;
    }
    return true;
}

void pageWords(const FirmwareImage &fw, uint32_t address, uint16_t *words) {
    for (uint32_t i = 0; i < kPageWords; ++i) words[i] = imageWord(fw, address + 2 * i);
}

// Pages the update touches: named by the file and holding something other
// than erased words.
bool pageToProgram(const FirmwareImage &fw, uint32_t page) {
    return fw.pageUsed[page] == 1 && !pageIsBlank(fw, page * FirmwareImage::kPageBytes, kBlockBytes);
}

// The address registers behind the indirect port, low half then high half.
// Failures are logged by ixSet; a wrong address shows up in the verify.
void writeFlashAddress(FlashDevice &dev, uint32_t address) {
    ixSet(dev, kRegIndirectIndex, kIndFlashAddressLow);
    ixSet(dev, kRegIndirectData, uint16_t(address & 0xFFFF));
    ixSet(dev, kRegIndirectIndex, kIndFlashAddressHigh);
    ixSet(dev, kRegIndirectData, uint16_t(address / 65536));
}

} // namespace

bool getDeviceName(const platform::Guid &interfaceClass, std::u16string &path) {
    IxDbg(0, L"ixdGetDeviceName\n");
    path.clear();
    std::u16string found;
    uint32_t error = 0;
    switch (platform::findFirstInterface(interfaceClass, found, &error)) {
    case platform::FindResult::NoDeviceSet:
        IxDbg(1, L"getDeviceName: hDevInfo == 0\n");
        return true;
    case platform::FindResult::NoInterface:
        IxDbg(0, L"getDeviceName: SetupDiEnumDeviceInterfaces Error - %08X\n", unsigned(error));
        return true;
    case platform::FindResult::DetailFailed:
        IxDbg(1, L"getDeviceName: SetupDiGetDeviceInterfaceDetail Error - %08X\n", unsigned(error));
        return true;
    case platform::FindResult::Found:
        break;
    }
    IxDbg(0, L"getDeviceName: DevName - %ls\n", os::fromUtf16(found).c_str());
    if (found.size() >= usb::kDevicePathUnits) found.resize(usb::kDevicePathUnits - 1);
    path = found;
    return false;
}

int initDevice(FlashDevice &dev) {
    // A failed attempt leaves nothing open, so the re-open loop can call this
    // again and again without piling up handles.
    closeDevice(dev);
    std::u16string path;
    if (getDeviceName(dev.interfaceClass, path)) return 1;
    uint32_t error = 0;
    dev.device = platform::openDevicePath(path, true, &error);
    if (!dev.device) return 1;
    if (!dev.device->winUsbInitialize()) {
        IxDbg(1, L"WinUsb_Initialize Error: %08X\n", unsigned(dev.device->lastError()));
        closeDevice(dev);
        return 1;
    }
    dev.winUsbInitialized = true;
    IxDbg(0, L"device initialized successfully\n");
    if (!dev.device->queryInterfaceSettings(0)) {
        IxDbg(1, L"WinUsb_QueryInterfaceSettings Error: %08X\n", unsigned(dev.device->lastError()));
        closeDevice(dev);
        return 1;
    }
    IxDbg(0, L"WinUsb_QueryInterfaceSettings successful\n");
    if (!dev.device->setCurrentAlternateSetting(0)) {
        IxDbg(1, L"WinUsb_SetCurrentAlternateSetting Error: %08X\n", unsigned(dev.device->lastError()));
        closeDevice(dev);
        return 1;
    }
    IxDbg(0, L"WinUsb_SetCurrentAlternateSetting successful\n");
    return 0;
}

void closeDevice(FlashDevice &dev) {
    if (dev.device && dev.winUsbInitialized) dev.device->winUsbFree();
    dev.winUsbInitialized = false;
    dev.device.reset();
}

int ixGet(FlashDevice &dev, uint16_t reg, uint16_t *value) {
    uint8_t data[2] = {0, 0};
    uint32_t got = 0;
    platform::SetupPacket setup{usb::kTypeVendorIn, usb::kRequestRead, 0, reg, 2};
    if (!transfer(dev, setup, data, &got)) {
        IxDbg(1, L"ixGet: ctrlId - %04X, Error - %08X\n", unsigned(reg), unsigned(lastErrorOf(dev)));
        return 1;
    }
    // A value cut short would be half made up; the caller gets a failure.
    if (got < 2) {
        IxDbg(1, L"ixGet: ctrlId - %04X, Error - %08X\n", unsigned(reg), unsigned(platform::kErrorGenFailure));
        return 1;
    }
    *value = uint16_t(data[0] | (data[1] << 8));
    return 0;
}

int ixSet(FlashDevice &dev, uint16_t reg, uint16_t value) {
    uint32_t got = 0;
    platform::SetupPacket setup{usb::kTypeVendorOut, usb::kRequestWrite, value, reg, 0};
    if (!transfer(dev, setup, nullptr, &got)) {
        IxDbg(1, L"ixSet Error: %08X\n", unsigned(lastErrorOf(dev)));
        return 1;
    }
    return 0;
}

int ixGetBlock(FlashDevice &dev, uint8_t *block) {
    uint32_t got = 0;
    platform::SetupPacket setup{usb::kTypeVendorIn, usb::kRequestRead, 0, kRegIndirectData, kBlockBytes};
    if (!transfer(dev, setup, block, &got)) {
        IxDbg(1, L"ixGetBlock Error: %08X\n", unsigned(lastErrorOf(dev)));
        return 1;
    }
    if (got < kBlockBytes) {
        IxDbg(0, L"ixGetBlock Error: returned %d bytes\n", int(got));
        return 1;
    }
    return 0;
}

int ixSetBlock(FlashDevice &dev, const uint8_t *block) {
    uint8_t data[kBlockBytes];
    std::memcpy(data, block, kBlockBytes);
    uint32_t got = 0;
    platform::SetupPacket setup{usb::kTypeVendorOut, usb::kRequestWrite, 0, kRegIndirectData, kBlockBytes};
    if (!transfer(dev, setup, data, &got)) {
        IxDbg(1, L"ixSetBlock Error: %08X\n", unsigned(lastErrorOf(dev)));
        return 1;
    }
    return 0;
}

void setFlashAddress(FlashDevice &dev, uint32_t address) {
    writeFlashAddress(dev, address);
    ixSet(dev, kRegIndirectIndex, kIndFlashData);
}

int testBlockRead(FlashDevice &dev) {
    uint8_t scratch[kBlockBytes];
    setFlashAddress(dev, 0);
    int rc = ixGetBlock(dev, scratch);
    IxDbg(0, L"testBlockRead: rc - %d\n", rc);
    return rc;
}

int eraseFlash(FlashDevice &dev, const FirmwareImage &fw) {
    for (uint32_t a = 0; a < FirmwareImage::kBytes; a += kSectorBytes) {
        if (pageIsBlank(fw, a, kSectorBytes)) continue;
        writeFlashAddress(dev, a);
        ixSet(dev, kRegIndirectIndex, kIndFlashCommand);
        ixSet(dev, kRegIndirectData, kFlashEraseSector);
        for (uint32_t polls = 1;; ++polls) {
            sys::sleepMs(kErasePollMs);
            uint16_t status = 0;
            if (ixGet(dev, kRegFlashStatus, &status)) return 1;
            if (status == kFlashStatusFailed) return 1;
            if (status == 0) break;
            if (polls >= kMaxErasePolls) {
                IxDbg(1, L"eraseFlash: Erase Timeout at 0x%08X\n", unsigned(a));
                return 1;
            }
        }
    }
    return 0;
}

int writePage(FlashDevice &dev, uint32_t address, const uint16_t *words) {
    IxDbg(0, L"Writing flash addr: %08X - %04X, %04X, %04X, %04X, ...\n", unsigned(address), unsigned(words[0]),
          unsigned(words[1]), unsigned(words[2]), unsigned(words[3]));
    setFlashAddress(dev, address);
    if (dev.blockMode) {
        uint8_t block[kBlockBytes];
        for (uint32_t i = 0; i < kPageWords; ++i) {
            block[2 * i] = uint8_t(words[i]);
            block[2 * i + 1] = uint8_t(words[i] >> 8);
        }
        ixSetBlock(dev, block);
    } else {
        for (uint32_t i = 0; i < kPageWords; ++i) ixSet(dev, kRegIndirectData, words[i]);
    }
    // Write failures are only logged: the verify pass finds their effect.
    return 0;
}

int VerifyFlash(FlashDevice &dev, const uint16_t *words, uint32_t address) {
    setFlashAddress(dev, address);
    if (dev.blockMode) {
        uint8_t block[kBlockBytes];
        // A page that could not be read back is not verified, whatever the
        // buffer happens to hold.
        bool same = ixGetBlock(dev, block) == 0;
        for (uint32_t i = 0; same && i < kPageWords; ++i) {
            same = uint16_t(block[2 * i] | (block[2 * i + 1] << 8)) == words[i];
        }
        if (!same) {
            IxDbg(1, L"VerifyFlash: Verify Error at Block 0x%08X\n", unsigned(address));
            return 1;
        }
        return 0;
    }
    for (uint32_t i = 0; i < kPageWords; ++i) {
        uint16_t value = 0;
        bool read = ixGet(dev, kRegIndirectData, &value) == 0;
        if (!read || value != words[i]) {
            IxDbg(1, L"VerifyFlash: Verify Error at 0x%08X - 0x%04X should be 0x%04X\n", unsigned(address + 2 * i),
                  unsigned(value), unsigned(words[i]));
            return 1;
        }
    }
    return 0;
}

int updateFw(FlashDevice &dev, const FirmwareImage &fw) {
    conPrint(L"\nErasing Flash...");
    if (eraseFlash(dev, fw)) {
        conPrint(L" Error!\n");
        return 1;
    }
    conPrint(L" Done\n");

    uint16_t words[kPageWords];
    conPrint(L"Updating Firmware...");
    for (uint32_t page = 0; page < FirmwareImage::kPages; ++page) {
        if (!pageToProgram(fw, page)) continue;
        pageWords(fw, page * FirmwareImage::kPageBytes, words);
        writePage(dev, page * FirmwareImage::kPageBytes, words);
    }
    conPrint(L" Done\n");

    IxDbg(0, L"updateFw: Verify\n");
    conPrint(L"Verifying Firmware Update...");
    for (uint32_t page = 0; page < FirmwareImage::kPages; ++page) {
        if (!pageToProgram(fw, page)) continue;
        pageWords(fw, page * FirmwareImage::kPageBytes, words);
        if (VerifyFlash(dev, words, page * FirmwareImage::kPageBytes)) {
            conPrint(L" Error\n");
            return 1;
        }
    }
    IxDbg(0, L"updateFw: Verify Done\n");
    conPrint(L" Done\n");

    ixSet(dev, kRegIndirectIndex, kIndRestart);
    ixSet(dev, kRegIndirectData, kRestartCommand);
    sys::sleepMs(kRestartWaitMs);
    return 0;
}

} // namespace ix::fw

#include "IxFwUpdate/tool.h"

#include <memory>
#include <new>

#include "IxFwUpdate/flash.h"
#include "IxFwUpdate/hex.h"
#include "IxFwUpdate/models.h"
#include "IxFwUpdate/output.h"
#include "platform/sys.h"

namespace ix::fw {

namespace {

void printVersion(FlashDevice &dev, const wchar_t *lead, const std::wstring &model, const wchar_t *middle) {
    uint16_t version = 0;
    if (ixGet(dev, kRegFirmwareVersion, &version) == 0) {
        conPrint(L"%ls%ls%ls%d.%d\n", lead, model.c_str(), middle, version >> 8, version & 0xFF);
    } else {
        // The failed read is already in the debug log; a made-up number here
        // would be taken for the camera's.
        conPrint(L"%ls%ls%lsunknown\n", lead, model.c_str(), middle);
    }
}

void waitForKey() {
    conPrint(L"\nPress any key to exit...\n");
    // Scripts and CI run the tool without a console; they must never block.
    if (sys::stdinIsConsole()) sys::readKey();
}

void update(const std::vector<std::wstring> &args) {
    if (args.size() != 2) {
        conPrint(L"Syntax: IxFwUpdate <device PID> <filename.hex>");
        return;
    }
    std::wstring pid = args[0].substr(0, kPidUnits - 1);
    const CameraModel *model = findModel(pid.c_str());
    if (!model) {
        conPrint(L"Invalid PID specified! %ls\n", pid.c_str());
        return;
    }
    FlashDevice dev;
    dev.interfaceClass = model->interfaceClass;
    std::wstring modelName = model->name;

    std::unique_ptr<FirmwareImage> fw(new (std::nothrow) FirmwareImage);
    if (!fw) {
        IxDbg(1, L"getHexFile: Memory Allocation Failure\n");
        conPrint(L"Error reading firmware file!\n");
        return;
    }
    if (getHexFile(args[1], *fw)) {
        conPrint(L"Error reading firmware file!\n");
        return;
    }
    if (initDevice(dev)) {
        conPrint(L"Error opening device!\n");
        return;
    }
    dev.blockMode = testBlockRead(dev) == 0;
    printVersion(dev, L"Current ", modelName, L" FW is version ");

    if (updateFw(dev, *fw)) {
        conPrint(L"\nFirmware Update FAILED!\n");
        closeDevice(dev);
        return;
    }
    conPrint(L"\nFirmware Updated Successfully!\n");
    closeDevice(dev);
    conPrint(L"\nWaiting for Device to Successfully Reenumerate!\n");
    bool back = false;
    for (int attempt = 0; attempt < kReopenAttempts; ++attempt) {
        if (initDevice(dev) == 0) {
            back = true;
            break;
        }
        sys::sleepMs(kReopenWaitMs);
    }
    if (back) {
        conPrint(L"\nDevice passed Reenumeration!\n\n");
        printVersion(dev, L"Updated ", modelName, L" FW to version ");
    } else {
        conPrint(L"\nDevice failed Reenumeration!\n");
    }
    closeDevice(dev);
}

} // namespace

int runFwUpdate(const std::vector<std::wstring> &args) {
    conPrint(L"\n\nIxFwUpdate, version 1.7\n");
    conPrint(L"Firmware update for Corvel USB cameras\n");
    update(args);
    waitForKey();
    return 0;
}

} // namespace ix::fw

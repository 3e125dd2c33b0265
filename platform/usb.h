// The seam to the operating system's USB stack. Everything above this folder
// talks to the camera through UsbDevice; platform types never leak upward.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

namespace ix::platform {

struct Guid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
    bool operator==(const Guid &) const = default;
};

struct SetupPacket {
    uint8_t requestType;
    uint8_t request;
    uint16_t value;
    uint16_t index;
    uint16_t length;
};

// System error codes the layers above look at (Windows numbering on every host).
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorGenFailure = 31;
inline constexpr uint32_t kErrorDeviceNotConnected = 1167;

// One opened device path. Operations mirror the two transport forms: the
// WinUSB calls and the kernel driver's I/O controls and file reads. Every call
// blocks until it completes; control calls and pipe reads may run on
// different threads at once. A failing call returns false and leaves its error
// in lastError().
class UsbDevice {
public:
    virtual ~UsbDevice() = default;

    // WinUSB form.
    virtual bool winUsbInitialize() = 0;
    virtual bool queryInterfaceSettings(uint8_t alternate) = 0;
    virtual bool setCurrentAlternateSetting(uint8_t alternate) = 0;
    virtual void winUsbFree() = 0;
    virtual bool controlTransfer(const SetupPacket &setup, uint8_t *data, uint32_t *transferred) = 0;
    virtual bool getDescriptor(uint8_t type, uint8_t index, uint16_t language, uint8_t *buffer,
                               uint32_t length, uint32_t *transferred) = 0;
    virtual bool readPipe(uint8_t pipe, uint8_t *buffer, uint32_t length, uint32_t *transferred) = 0;

    // Kernel-driver form.
    virtual bool ioControl(uint32_t code, const void *in, uint32_t inLength, void *out,
                           uint32_t outLength, uint32_t *returned) = 0;
    virtual bool readFile(uint8_t *buffer, uint32_t length, uint32_t *transferred) = 0;

    virtual uint32_t lastError() const = 0;

    // Ends reads that are waiting on the pipe or the device file, from any
    // thread. Called at close; a reader may still hold the device afterwards
    // and must then find its reads failing, not a freed object.
    virtual void cancelReads() = 0;
};

// Outcome of looking for the first present device interface of a class.
enum class FindResult {
    Found,
    NoDeviceSet,    // the set of present interfaces could not be made
    NoInterface,    // the set holds no interface at member index 0
    DetailFailed,   // the interface's detail (its path) could not be read
};

// Path of the first present device interface of the class (member index 0).
// *error receives the system error of a failed step. With IXLUMO_SIMULATOR
// set, only the virtual camera is found.
FindResult findFirstInterface(const Guid &interfaceClass, std::u16string &path, uint32_t *error = nullptr);

// Opens a device path for reading and writing. On failure returns null and
// stores the system error in *error (kErrorAccessDenied when another process
// holds it).
std::unique_ptr<UsbDevice> openDevicePath(const std::u16string &path, bool overlapped, uint32_t *error);

} // namespace ix::platform

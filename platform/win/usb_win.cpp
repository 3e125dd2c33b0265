// WinUSB and kernel-driver access to the camera through SetupAPI discovery.
#include "platform/native_usb.h"

#include <windows.h>

#include <setupapi.h>
#include <winusb.h>

#include <cstddef>
#include <vector>

namespace ix::platform::native {
namespace {

GUID toGuid(const Guid &g) {
    GUID r;
    r.Data1 = g.data1;
    r.Data2 = g.data2;
    r.Data3 = g.data3;
    for (int i = 0; i < 8; ++i) r.Data4[i] = g.data4[i];
    return r;
}

class WinDevice final : public UsbDevice {
public:
    explicit WinDevice(HANDLE h) : file_(h) {}
    ~WinDevice() override {
        winUsbFree();
        if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
    }

    bool winUsbInitialize() override {
        if (!WinUsb_Initialize(file_, &usb_)) return fail();
        return true;
    }
    bool queryInterfaceSettings(uint8_t alternate) override {
        USB_INTERFACE_DESCRIPTOR d{};
        return WinUsb_QueryInterfaceSettings(usb_, alternate, &d) ? true : fail();
    }
    bool setCurrentAlternateSetting(uint8_t alternate) override {
        return WinUsb_SetCurrentAlternateSetting(usb_, alternate) ? true : fail();
    }
    void winUsbFree() override {
        if (usb_) {
            WinUsb_Free(usb_);
            usb_ = nullptr;
        }
    }
    bool controlTransfer(const SetupPacket &s, uint8_t *data, uint32_t *transferred) override {
        WINUSB_SETUP_PACKET p;
        p.RequestType = s.requestType;
        p.Request = s.request;
        p.Value = s.value;
        p.Index = s.index;
        p.Length = s.length;
        ULONG n = 0;
        BOOL ok = WinUsb_ControlTransfer(usb_, p, data, s.length, &n, nullptr);
        if (transferred) *transferred = n;
        return ok ? true : fail();
    }
    bool getDescriptor(uint8_t type, uint8_t index, uint16_t language, uint8_t *buffer, uint32_t length,
                       uint32_t *transferred) override {
        ULONG n = 0;
        BOOL ok = WinUsb_GetDescriptor(usb_, type, index, language, buffer, length, &n);
        if (transferred) *transferred = n;
        return ok ? true : fail();
    }
    bool readPipe(uint8_t pipe, uint8_t *buffer, uint32_t length, uint32_t *transferred) override {
        ULONG n = 0;
        BOOL ok = WinUsb_ReadPipe(usb_, pipe, buffer, length, &n, nullptr);
        if (transferred) *transferred = n;
        return ok ? true : fail();
    }
    bool ioControl(uint32_t code, const void *in, uint32_t inLength, void *out, uint32_t outLength,
                   uint32_t *returned) override {
        DWORD n = 0;
        BOOL ok = DeviceIoControl(file_, code, const_cast<void *>(in), inLength, out, outLength, &n, nullptr);
        if (returned) *returned = n;
        return ok ? true : fail();
    }
    bool readFile(uint8_t *buffer, uint32_t length, uint32_t *transferred) override {
        DWORD n = 0;
        BOOL ok = ReadFile(file_, buffer, length, &n, nullptr);
        if (transferred) *transferred = n;
        return ok ? true : fail();
    }
    uint32_t lastError() const override { return error_; }

private:
    bool fail() {
        error_ = GetLastError();
        return false;
    }
    HANDLE file_;
    WINUSB_INTERFACE_HANDLE usb_ = nullptr;
    uint32_t error_ = 0;
};

} // namespace

FindResult findFirstInterface(const Guid &interfaceClass, std::u16string &path, uint32_t *error) {
    path.clear();
    GUID guid = toGuid(interfaceClass);
    HDEVINFO set = SetupDiGetClassDevsW(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        if (error) *error = GetLastError();
        return FindResult::NoDeviceSet;
    }
    FindResult result = FindResult::DetailFailed;
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    if (!SetupDiEnumDeviceInterfaces(set, nullptr, &guid, 0, &data)) {
        if (error) *error = GetLastError();
        result = FindResult::NoInterface;
    } else {
        DWORD needed = 0;
        SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &needed, nullptr);
        if (needed >= sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
            std::vector<unsigned char> storage(needed + sizeof(wchar_t));
            auto *detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W *>(storage.data());
            // SetupAPI checks this against the fixed part of the record as this
            // process lays it out: 6 bytes in a 32-bit process, 8 in a 64-bit one.
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
            if (SetupDiGetDeviceInterfaceDetailW(set, &data, detail, needed, nullptr, nullptr)) {
                for (const wchar_t *p = detail->DevicePath; *p; ++p) path += char16_t(*p);
                result = FindResult::Found;
            } else if (error) {
                *error = GetLastError();
            }
        } else if (error) {
            *error = GetLastError();
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    return result;
}

std::unique_ptr<UsbDevice> openDevicePath(const std::u16string &path, bool overlapped, uint32_t *error) {
    std::wstring w(path.begin(), path.end());
    HANDLE h = CreateFileW(w.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, overlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        if (error) *error = GetLastError();
        return nullptr;
    }
    return std::make_unique<WinDevice>(h);
}

} // namespace ix::platform::native

// WinUSB and kernel-driver access to the camera through SetupAPI discovery.
#include "platform/native_usb.h"

#include <windows.h>

#include <setupapi.h>
#include <winusb.h>

#include <atomic>
#include <cstddef>
#include <memory>
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

// The handles live in a record shared with every call in flight. Closing the
// device cancels pending reads and drops its reference; the handles are
// released when the last call has left, so a reader that is still inside a
// pipe read at close (a stream stopped past its time limit) never touches a
// freed object or a handle number that was reused.
struct Handles {
    HANDLE file = INVALID_HANDLE_VALUE;
    WINUSB_INTERFACE_HANDLE usb = nullptr;
    ~Handles() {
        if (usb) WinUsb_Free(usb);
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    }
};

class WinDevice final : public UsbDevice {
public:
    explicit WinDevice(HANDLE h) : handles_(std::make_shared<Handles>()) { handles_->file = h; }
    ~WinDevice() override { cancelReads(); }

    void cancelReads() override {
        if (handles_->usb) WinUsb_AbortPipe(handles_->usb, 0x81);
        CancelIoEx(handles_->file, nullptr);
    }

    bool winUsbInitialize() override {
        if (!WinUsb_Initialize(handles_->file, &handles_->usb)) return fail();
        return true;
    }
    bool queryInterfaceSettings(uint8_t alternate) override {
        USB_INTERFACE_DESCRIPTOR d{};
        return WinUsb_QueryInterfaceSettings(handles_->usb, alternate, &d) ? true : fail();
    }
    bool setCurrentAlternateSetting(uint8_t alternate) override {
        return WinUsb_SetCurrentAlternateSetting(handles_->usb, alternate) ? true : fail();
    }
    void winUsbFree() override {
        // Freed with the handles once no call is using it.
        if (handles_->usb) WinUsb_AbortPipe(handles_->usb, 0x81);
    }
    bool controlTransfer(const SetupPacket &s, uint8_t *data, uint32_t *transferred) override {
        auto h = handles_;
        WINUSB_SETUP_PACKET p;
        p.RequestType = s.requestType;
        p.Request = s.request;
        p.Value = s.value;
        p.Index = s.index;
        p.Length = s.length;
        ULONG n = 0;
        BOOL ok = WinUsb_ControlTransfer(h->usb, p, data, s.length, &n, nullptr);
        if (transferred) *transferred = n;
        return ok ? true : fail();
    }
    bool getDescriptor(uint8_t type, uint8_t index, uint16_t language, uint8_t *buffer, uint32_t length,
                       uint32_t *transferred) override {
        auto h = handles_;
        ULONG n = 0;
        BOOL ok = WinUsb_GetDescriptor(h->usb, type, index, language, buffer, length, &n);
        if (transferred) *transferred = n;
        return ok ? true : fail();
    }
    bool readPipe(uint8_t pipe, uint8_t *buffer, uint32_t length, uint32_t *transferred) override {
        auto h = handles_;
        ULONG n = 0;
        BOOL ok = WinUsb_ReadPipe(h->usb, pipe, buffer, length, &n, nullptr);
        if (transferred) *transferred = n;
        if (ok) return true;
        error_.store(GetLastError());
        return false;
    }
    bool ioControl(uint32_t code, const void *in, uint32_t inLength, void *out, uint32_t outLength,
                   uint32_t *returned) override {
        auto h = handles_;
        DWORD n = 0;
        BOOL ok = DeviceIoControl(h->file, code, const_cast<void *>(in), inLength, out, outLength, &n, nullptr);
        if (returned) *returned = n;
        return ok ? true : fail();
    }
    bool readFile(uint8_t *buffer, uint32_t length, uint32_t *transferred) override {
        auto h = handles_;
        DWORD n = 0;
        BOOL ok = ReadFile(h->file, buffer, length, &n, nullptr);
        if (transferred) *transferred = n;
        if (ok) return true;
        error_.store(GetLastError());
        return false;
    }
    uint32_t lastError() const override { return error_.load(); }

private:
    bool fail() {
        error_.store(GetLastError());
        return false;
    }
    std::shared_ptr<Handles> handles_;
    std::atomic<uint32_t> error_{0};
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

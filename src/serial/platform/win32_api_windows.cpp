// The system's own calls behind the Win32Api table.

#include <cstddef>

#include "serial/platform/win32_api.h"

// <windows.h> comes after the project's headers: its macros (EV_RXCHAR, PURGE_RXABORT...)
// would otherwise replace the names those headers declare.
#include <windows.h>

#include <setupapi.h>

namespace ornat::win32 {

namespace {

// An Overlapped is handed to the system as its OVERLAPPED, so it must be one.
static_assert(sizeof(Overlapped) == sizeof(OVERLAPPED));
static_assert(alignof(Overlapped) == alignof(OVERLAPPED));
static_assert(offsetof(Overlapped, Internal) == offsetof(OVERLAPPED, Internal));
static_assert(offsetof(Overlapped, InternalHigh) == offsetof(OVERLAPPED, InternalHigh));
static_assert(offsetof(Overlapped, hEvent) == offsetof(OVERLAPPED, hEvent));
static_assert(sizeof(Dcb) == sizeof(DCB));
static_assert(sizeof(DevInfoData) == sizeof(SP_DEVINFO_DATA));
static_assert(offsetof(DevInfoData, DevInst) == offsetof(SP_DEVINFO_DATA, DevInst));
static_assert(kSpdrpFriendlyName == SPDRP_FRIENDLYNAME);
static_assert(kErrorInsufficientBuffer == ERROR_INSUFFICIENT_BUFFER);
static_assert(sizeof(CommTimeoutsRecord) == sizeof(COMMTIMEOUTS));
static_assert(kKeyRead == KEY_READ);
static_assert(kErrorIoPending == ERROR_IO_PENDING);
static_assert(kErrorOperationAborted == ERROR_OPERATION_ABORTED);

LPOVERLAPPED Os(Overlapped* ov) {
  return reinterpret_cast<LPOVERLAPPED>(ov);
}

DCB ToSystemDcb(const Dcb& d) {
  DCB s{};
  s.DCBlength = d.DCBlength;
  s.BaudRate = d.BaudRate;
  s.fBinary = d.fBinary;
  s.fParity = d.fParity;
  s.fOutxCtsFlow = d.fOutxCtsFlow;
  s.fOutxDsrFlow = d.fOutxDsrFlow;
  s.fDtrControl = d.fDtrControl;
  s.fDsrSensitivity = d.fDsrSensitivity;
  s.fTXContinueOnXoff = d.fTXContinueOnXoff;
  s.fOutX = d.fOutX;
  s.fInX = d.fInX;
  s.fErrorChar = d.fErrorChar;
  s.fNull = d.fNull;
  s.fRtsControl = d.fRtsControl;
  s.fAbortOnError = d.fAbortOnError;
  s.XonLim = d.XonLim;
  s.XoffLim = d.XoffLim;
  s.ByteSize = d.ByteSize;
  s.Parity = d.Parity;
  s.StopBits = d.StopBits;
  s.XonChar = d.XonChar;
  s.XoffChar = d.XoffChar;
  s.ErrorChar = d.ErrorChar;
  s.EofChar = d.EofChar;
  s.EvtChar = d.EvtChar;
  return s;
}

Win32Api MakeReal() {
  Win32Api api;
  api.CreateFileA = [](const char* name, Dword access, Dword share, void* security, Dword creation,
                       Dword flags, Handle template_file) -> Handle {
    return ::CreateFileA(name, access, share, static_cast<LPSECURITY_ATTRIBUTES>(security),
                         creation, flags, template_file);
  };
  api.CreateFileW = [](const char16_t* name, Dword access, Dword share, void* security,
                       Dword creation, Dword flags, Handle template_file) -> Handle {
    return ::CreateFileW(reinterpret_cast<const wchar_t*>(name), access, share,
                         static_cast<LPSECURITY_ATTRIBUTES>(security), creation, flags,
                         template_file);
  };
  api.CloseHandle = [](Handle h) -> Bool { return ::CloseHandle(h); };
  api.SetupComm = [](Handle h, Dword in, Dword out) -> Bool { return ::SetupComm(h, in, out); };
  api.SetCommState = [](Handle h, const Dcb* dcb) -> Bool {
    DCB s = ToSystemDcb(*dcb);
    return ::SetCommState(h, &s);
  };
  api.SetCommTimeouts = [](Handle h, const CommTimeoutsRecord* t) -> Bool {
    COMMTIMEOUTS s{};
    s.ReadIntervalTimeout = t->ReadIntervalTimeout;
    s.ReadTotalTimeoutMultiplier = t->ReadTotalTimeoutMultiplier;
    s.ReadTotalTimeoutConstant = t->ReadTotalTimeoutConstant;
    s.WriteTotalTimeoutMultiplier = t->WriteTotalTimeoutMultiplier;
    s.WriteTotalTimeoutConstant = t->WriteTotalTimeoutConstant;
    return ::SetCommTimeouts(h, &s);
  };
  api.SetCommMask = [](Handle h, Dword mask) -> Bool { return ::SetCommMask(h, mask); };
  api.WaitCommEvent = [](Handle h, Dword* mask, Overlapped* ov) -> Bool {
    static_assert(sizeof(Dword) == sizeof(DWORD));
    return ::WaitCommEvent(h, reinterpret_cast<LPDWORD>(mask), Os(ov));
  };
  api.ReadFile = [](Handle h, void* buffer, Dword count, Dword* done, Overlapped* ov) -> Bool {
    return ::ReadFile(h, buffer, count, reinterpret_cast<LPDWORD>(done), Os(ov));
  };
  api.WriteFile = [](Handle h, const void* buffer, Dword count, Dword* done,
                     Overlapped* ov) -> Bool {
    return ::WriteFile(h, buffer, count, reinterpret_cast<LPDWORD>(done), Os(ov));
  };
  api.GetOverlappedResult = [](Handle h, Overlapped* ov, Dword* done, Bool wait) -> Bool {
    return ::GetOverlappedResult(h, Os(ov), reinterpret_cast<LPDWORD>(done), wait);
  };
  api.ClearCommError = [](Handle h, Dword* errors, ComStat* stat) -> Bool {
    COMSTAT s{};
    const BOOL ok = ::ClearCommError(h, reinterpret_cast<LPDWORD>(errors), &s);
    if (ok && stat != nullptr) {
      stat->flags = 0;
      stat->cbInQue = s.cbInQue;
      stat->cbOutQue = s.cbOutQue;
    }
    return ok;
  };
  api.GetCommModemStatus = [](Handle h, Dword* status) -> Bool {
    return ::GetCommModemStatus(h, reinterpret_cast<LPDWORD>(status));
  };
  api.PurgeComm = [](Handle h, Dword flags) -> Bool { return ::PurgeComm(h, flags); };
  api.CancelIoEx = [](Handle h, Overlapped* ov) -> Bool { return ::CancelIoEx(h, Os(ov)); };
  api.CreateEventA = [](void* security, Bool manual, Bool initial, const char* name) -> Handle {
    return ::CreateEventA(static_cast<LPSECURITY_ATTRIBUTES>(security), manual, initial, name);
  };
  api.SetEvent = [](Handle h) -> Bool { return ::SetEvent(h); };
  api.WaitForSingleObject = [](Handle h, Dword ms) -> Dword {
    return ::WaitForSingleObject(h, ms);
  };
  api.WaitForMultipleObjects = [](Dword count, const Handle* handles, Bool all, Dword ms) -> Dword {
    return ::WaitForMultipleObjects(count, handles, all, ms);
  };
  api.GetLastError = []() -> Dword { return ::GetLastError(); };

  api.RegOpenKeyExA = [](HKey key, const char* sub_key, Dword options, Dword sam,
                         HKey* result) -> Long {
    HKEY opened = nullptr;
    const LONG e = ::RegOpenKeyExA(static_cast<HKEY>(key), sub_key, options,
                                   static_cast<REGSAM>(sam), &opened);
    *result = opened;
    return e;
  };
  api.RegQueryInfoKeyA = [](HKey key, Dword* values, Dword* longest_name) -> Long {
    DWORD count = 0, longest = 0;
    const LONG e =
        ::RegQueryInfoKeyA(static_cast<HKEY>(key), nullptr, nullptr, nullptr, nullptr, nullptr,
                           nullptr, &count, &longest, nullptr, nullptr, nullptr);
    *values = count;
    *longest_name = longest;
    return e;
  };
  api.RegEnumValueA = [](HKey key, Dword index, char* name, Dword* name_len) -> Long {
    DWORD len = *name_len;
    const LONG e = ::RegEnumValueA(static_cast<HKEY>(key), index, name, &len, nullptr, nullptr,
                                   nullptr, nullptr);
    *name_len = len;
    return e;
  };
  api.RegQueryValueExA = [](HKey key, const char* name, Dword* type, std::uint8_t* data,
                            Dword* data_len) -> Long {
    DWORD t = 0, len = *data_len;
    const LONG e = ::RegQueryValueExA(static_cast<HKEY>(key), name, nullptr, &t, data, &len);
    *type = t;
    *data_len = len;
    return e;
  };
  api.RegCloseKey = [](HKey key) -> Long { return ::RegCloseKey(static_cast<HKEY>(key)); };

  api.SetupDiGetClassDevsPorts = []() -> HDevInfo {
    // GUID_DEVCLASS_PORTS, the class of serial and parallel ports.
    static const GUID kPorts = {
        0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
    return ::SetupDiGetClassDevsW(&kPorts, nullptr, nullptr, DIGCF_PRESENT);
  };
  api.SetupDiEnumDeviceInfo = [](HDevInfo set, Dword index, DevInfoData* data) -> Bool {
    return ::SetupDiEnumDeviceInfo(set, index, reinterpret_cast<SP_DEVINFO_DATA*>(data));
  };
  api.SetupDiGetDeviceRegistryPropertyW = [](HDevInfo set, DevInfoData* data, Dword property,
                                             Dword* type, std::uint8_t* buffer, Dword size,
                                             Dword* required) -> Bool {
    DWORD t = 0, need = 0;
    const BOOL ok = ::SetupDiGetDeviceRegistryPropertyW(
        set, reinterpret_cast<SP_DEVINFO_DATA*>(data), property, &t, buffer, size, &need);
    *type = t;
    *required = need;
    return ok;
  };
  api.SetupDiDestroyDeviceInfoList = [](HDevInfo set) -> Bool {
    return ::SetupDiDestroyDeviceInfoList(set);
  };
  return api;
}

}  // namespace

const Win32Api& Win32Api::Real() {
  static const Win32Api api = MakeReal();
  return api;
}

}  // namespace ornat::win32

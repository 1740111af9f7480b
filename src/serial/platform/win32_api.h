#pragma once
// The Win32 calls of the serial layer, as one table of functions: the communications
// calls of the device, the events and waits around them, the registry calls of the
// port list and the SetupAPI calls that name a port's device. Win32Api::Real()
// (win32_api_windows.cpp, Windows builds only) holds the system's own; tests put a recording fake
// in its place, so the device's call sequences are tested exactly on Linux and under Wine alike.
//
// The types are Win32's, under names of their own so that this header needs no
// <windows.h>: the device and the port list compile on every platform. Their layouts
// are Win32's too (the real table checks that at compile time): an Overlapped is
// handed to the system as the OVERLAPPED it is.

#include <cstdint>
#include <functional>

#include "serial/platform/comm_device.h"

namespace ornat::win32 {

using Handle = void*;
using Dword = std::uint32_t;
using Bool = int;
using HKey = void*;
using Long = std::int32_t;
using HDevInfo = void*;

// INVALID_HANDLE_VALUE.
inline Handle InvalidHandle() {
  return reinterpret_cast<Handle>(static_cast<std::intptr_t>(-1));
}
// HKEY_LOCAL_MACHINE: (HKEY)(LONG)0x80000002, sign-extended as Win32 does.
inline HKey LocalMachineKey() {
  return reinterpret_cast<HKey>(static_cast<std::intptr_t>(static_cast<Long>(0x80000002u)));
}

// CreateFileA, CreateFileW
inline constexpr Dword kGenericRead = 0x80000000u;
inline constexpr Dword kGenericWrite = 0x40000000u;
inline constexpr Dword kOpenExisting = 3;
inline constexpr Dword kFileFlagOverlapped = 0x40000000u;
// Waits
inline constexpr Dword kInfinite = 0xFFFFFFFFu;
inline constexpr Dword kWaitObject0 = 0;
inline constexpr Dword kWaitTimeout = 258;
inline constexpr Dword kWaitFailed = 0xFFFFFFFFu;
// GetLastError codes the layer looks at or gives itself.
inline constexpr Dword kErrorFileNotFound = 2;
inline constexpr Dword kErrorAccessDenied = 5;
inline constexpr Dword kErrorInvalidHandle = 6;
inline constexpr Dword kErrorGenFailure = 31;
inline constexpr Dword kErrorOperationAborted = 995;
inline constexpr Dword kErrorIoPending = 997;
inline constexpr Dword kErrorNotFound = 1168;
// Registry
inline constexpr Long kErrorSuccess = 0;
inline constexpr Long kErrorMoreData = 234;
inline constexpr Long kErrorNoMoreItems = 259;
inline constexpr Dword kKeyRead = 0x20019;  // KEY_READ
inline constexpr Dword kRegSz = 1;
inline constexpr Dword kRegExpandSz = 2;
// SetupAPI
inline constexpr Dword kErrorInsufficientBuffer = 122;
inline constexpr Dword kSpdrpFriendlyName = 0x0C;  // SPDRP_FRIENDLYNAME

// SP_DEVINFO_DATA: one device of a device information set.
struct DevInfoData {
  Dword cbSize = sizeof(DevInfoData);
  std::uint8_t ClassGuid[16] = {};
  Dword DevInst = 0;
  std::uintptr_t Reserved = 0;
};

// DCB, field for field (28 bytes).
struct Dcb {
  Dword DCBlength = 0;
  Dword BaudRate = 0;
  Dword fBinary : 1 = 0;
  Dword fParity : 1 = 0;
  Dword fOutxCtsFlow : 1 = 0;
  Dword fOutxDsrFlow : 1 = 0;
  Dword fDtrControl : 2 = 0;
  Dword fDsrSensitivity : 1 = 0;
  Dword fTXContinueOnXoff : 1 = 0;
  Dword fOutX : 1 = 0;
  Dword fInX : 1 = 0;
  Dword fErrorChar : 1 = 0;
  Dword fNull : 1 = 0;
  Dword fRtsControl : 2 = 0;
  Dword fAbortOnError : 1 = 0;
  Dword fDummy2 : 17 = 0;
  std::uint16_t wReserved = 0;
  std::uint16_t XonLim = 0;
  std::uint16_t XoffLim = 0;
  std::uint8_t ByteSize = 0;
  std::uint8_t Parity = 0;
  std::uint8_t StopBits = 0;
  char XonChar = 0;
  char XoffChar = 0;
  char ErrorChar = 0;
  char EofChar = 0;
  char EvtChar = 0;
  std::uint16_t wReserved1 = 0;
};
static_assert(sizeof(Dcb) == 28, "a DCB is 28 bytes");

// COMMTIMEOUTS is CommTimeouts (five DWORDs in the same order).
using CommTimeoutsRecord = CommTimeouts;

// COMSTAT: the flag bits, then the two queue counts.
struct ComStat {
  Dword flags = 0;
  Dword cbInQue = 0;
  Dword cbOutQue = 0;
};

// OVERLAPPED.
struct Overlapped {
  std::uintptr_t Internal = 0;
  std::uintptr_t InternalHigh = 0;
  Dword Offset = 0;
  Dword OffsetHigh = 0;
  Handle hEvent = nullptr;
};

// The line settings record as Win32's DCB: every field the record does not carry is 0.
Dcb ToDcb(const LineSettings& s);

struct Win32Api {
  std::function<Handle(const char* name, Dword access, Dword share, void* security, Dword creation,
                       Dword flags, Handle template_file)>
      CreateFileA;
  // The same open for a name that is not ASCII, given in UTF-16.
  std::function<Handle(const char16_t* name, Dword access, Dword share, void* security,
                       Dword creation, Dword flags, Handle template_file)>
      CreateFileW;
  std::function<Bool(Handle h)> CloseHandle;
  std::function<Bool(Handle h, Dword in_queue, Dword out_queue)> SetupComm;
  std::function<Bool(Handle h, const Dcb* dcb)> SetCommState;
  std::function<Bool(Handle h, const CommTimeoutsRecord* timeouts)> SetCommTimeouts;
  std::function<Bool(Handle h, Dword mask)> SetCommMask;
  std::function<Bool(Handle h, Dword* mask, Overlapped* ov)> WaitCommEvent;
  std::function<Bool(Handle h, void* buffer, Dword count, Dword* done, Overlapped* ov)> ReadFile;
  std::function<Bool(Handle h, const void* buffer, Dword count, Dword* done, Overlapped* ov)>
      WriteFile;
  std::function<Bool(Handle h, Overlapped* ov, Dword* done, Bool wait)> GetOverlappedResult;
  std::function<Bool(Handle h, Dword* errors, ComStat* stat)> ClearCommError;
  std::function<Bool(Handle h, Dword* status)> GetCommModemStatus;
  std::function<Bool(Handle h, Dword flags)> PurgeComm;
  std::function<Bool(Handle h, Overlapped* ov)> CancelIoEx;
  std::function<Handle(void* security, Bool manual_reset, Bool initial_state, const char* name)>
      CreateEventA;
  std::function<Bool(Handle h)> SetEvent;
  std::function<Dword(Handle h, Dword ms)> WaitForSingleObject;
  std::function<Dword(Dword count, const Handle* handles, Bool wait_all, Dword ms)>
      WaitForMultipleObjects;
  std::function<Dword()> GetLastError;

  std::function<Long(HKey key, const char* sub_key, Dword options, Dword sam, HKey* result)>
      RegOpenKeyExA;
  // RegQueryInfoKeyA with only the value count and the longest value name asked for.
  std::function<Long(HKey key, Dword* values, Dword* max_value_name_len)> RegQueryInfoKeyA;
  // RegEnumValueA with only the name asked for.
  std::function<Long(HKey key, Dword index, char* name, Dword* name_len)> RegEnumValueA;
  std::function<Long(HKey key, const char* name, Dword* type, std::uint8_t* data, Dword* data_len)>
      RegQueryValueExA;
  std::function<Long(HKey key)> RegCloseKey;

  // SetupDiGetClassDevsW of the Ports class (GUID_DEVCLASS_PORTS), present devices
  // only (DIGCF_PRESENT); InvalidHandle() when it fails.
  std::function<HDevInfo()> SetupDiGetClassDevsPorts;
  std::function<Bool(HDevInfo set, Dword index, DevInfoData* data)> SetupDiEnumDeviceInfo;
  std::function<Bool(HDevInfo set, DevInfoData* data, Dword property, Dword* type,
                     std::uint8_t* buffer, Dword size, Dword* required)>
      SetupDiGetDeviceRegistryPropertyW;
  std::function<Bool(HDevInfo set)> SetupDiDestroyDeviceInfoList;

  // The system's calls. Windows builds only.
  static const Win32Api& Real();
};

}  // namespace ornat::win32

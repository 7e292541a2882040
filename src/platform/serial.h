#pragma once
// The serial port calls the updater is written against, with the meanings it relies on,
// implemented on POSIX termios and poll(). Handles are never reused, so a stale handle held by a
// stopped worker can only fail, never reach a port opened later.
#include <cstdint>
#include <string>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using BOOL = int;
using HANDLE = std::intptr_t;

inline constexpr HANDLE INVALID_HANDLE_VALUE = -1;
inline constexpr DWORD GENERIC_READ = 0x80000000u;
inline constexpr DWORD GENERIC_WRITE = 0x40000000u;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD PURGE_TXABORT = 0x1;
inline constexpr DWORD PURGE_RXABORT = 0x2;
inline constexpr DWORD PURGE_TXCLEAR = 0x4;
inline constexpr DWORD PURGE_RXCLEAR = 0x8;
inline constexpr DWORD DTR_CONTROL_DISABLE = 0;
inline constexpr DWORD DTR_CONTROL_ENABLE = 1;
inline constexpr DWORD RTS_CONTROL_DISABLE = 0;
inline constexpr DWORD RTS_CONTROL_ENABLE = 1;
inline constexpr DWORD RTS_CONTROL_HANDSHAKE = 2;
inline constexpr BYTE NOPARITY = 0;
inline constexpr BYTE ONESTOPBIT = 0;
inline constexpr BYTE TWOSTOPBITS = 2;

// Read and write time-outs in milliseconds (protocol time: the clock's scale applies).
// A read returns after ReadTotalTimeoutMultiplier * count + ReadTotalTimeoutConstant at the
// latest; all read fields 0 means a read waits for its whole count. Write time-outs of 0 mean
// none: a write returns when every byte has been taken.
struct COMMTIMEOUTS {
  DWORD ReadIntervalTimeout;
  DWORD ReadTotalTimeoutMultiplier;
  DWORD ReadTotalTimeoutConstant;
  DWORD WriteTotalTimeoutMultiplier;
  DWORD WriteTotalTimeoutConstant;
};

// Line settings.
struct DCB {
  DWORD DCBlength;
  DWORD BaudRate;
  DWORD fBinary : 1;
  DWORD fParity : 1;
  DWORD fOutxCtsFlow : 1;
  DWORD fOutxDsrFlow : 1;
  DWORD fDtrControl : 2;
  DWORD fDsrSensitivity : 1;
  DWORD fTXContinueOnXoff : 1;
  DWORD fOutX : 1;
  DWORD fInX : 1;
  DWORD fErrorChar : 1;
  DWORD fNull : 1;
  DWORD fRtsControl : 2;
  DWORD fAbortOnError : 1;
  DWORD fDummy2 : 17;
  WORD wReserved;
  WORD XonLim;
  WORD XoffLim;
  BYTE ByteSize;
  BYTE Parity;
  BYTE StopBits;
  char XonChar;
  char XoffChar;
  char ErrorChar;
  char EofChar;
  char EvtChar;
  WORD wReserved1;
};

// Opens "COM1" to "COM4" (see ComDevicePath) exclusively, for synchronous reads and writes.
// Any other name is taken as a device path. Returns INVALID_HANDLE_VALUE on failure, with the
// reason in GetLastError().
HANDLE CreateFileA(const char* fileName, DWORD desiredAccess, DWORD shareMode, void* securityAttributes,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);
BOOL GetCommTimeouts(HANDLE port, COMMTIMEOUTS* timeouts);
BOOL SetCommTimeouts(HANDLE port, const COMMTIMEOUTS* timeouts);
BOOL GetCommState(HANDLE port, DCB* dcb);
BOOL SetCommState(HANDLE port, const DCB* dcb);
// PURGE_RXABORT / PURGE_TXABORT end a read or write in progress on another thread (it fails);
// the CLEAR flags discard buffered input or output.
BOOL PurgeComm(HANDLE port, DWORD flags);
// Returns when `count` bytes have arrived or the read time-out has passed; *bytesRead tells how
// many, and only those bytes of `buffer` are written. A port that is gone reads as 0 bytes after
// the time-out, never at once, so a polling loop cannot spin on it.
BOOL ReadFile(HANDLE port, void* buffer, DWORD count, DWORD* bytesRead, void* overlapped);
// Returns when every byte has been taken, or fails when the port is purged, closed or gone.
BOOL WriteFile(HANDLE port, const void* data, DWORD count, DWORD* bytesWritten, void* overlapped);
// Wakes and waits out any call in progress on the port, discards unsent output, puts the
// device's original terminal settings back and closes it.
BOOL CloseHandle(HANDLE port);

// errno of the calling thread's last failed call above.
DWORD GetLastError();

// The device a port name opens: $TMV540_COMn when set, else /dev/ttyS(n-1) for "COMn".
std::string ComDevicePath(const char* portName);

// One line for the log about a failed open: the device and the reason in the operator's words
// (no such device; permission denied, with the dialout hint; busy).
std::string DescribeOpenFailure(const char* portName, DWORD error);

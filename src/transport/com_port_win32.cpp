#include "base/utf.h"
#include "transport/com_port_win32.h"

namespace {

// The DCB's flag bits in the order of its bit fields, as CPortState::flags holds them.
constexpr uint32_t kBinary = 1u << 0;
constexpr uint32_t kParity = 1u << 1;
constexpr uint32_t kOutxCtsFlow = 1u << 2;
constexpr uint32_t kOutxDsrFlow = 1u << 3;
constexpr uint32_t kDtrControlShift = 4;
constexpr uint32_t kDsrSensitivity = 1u << 6;
constexpr uint32_t kTxContinueOnXoff = 1u << 7;
constexpr uint32_t kOutX = 1u << 8;
constexpr uint32_t kInX = 1u << 9;
constexpr uint32_t kErrorChar = 1u << 10;
constexpr uint32_t kNull = 1u << 11;
constexpr uint32_t kRtsControlShift = 12;
constexpr uint32_t kAbortOnError = 1u << 14;

uint32_t LastError()
{
    return static_cast<uint32_t>(GetLastError());
}

}  // namespace

uint32_t CWin32PortHandle::Failed()
{
    lastError = LastError();
    return lastError;
}

std::string CWin32PortHandle::LastErrorText() const
{
    if (lastError == 0)
        return {};
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, lastError, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring meaning = length ? std::wstring(text, length) : std::wstring();
    LocalFree(text);
    while (!meaning.empty() && (meaning.back() == L'\n' || meaning.back() == L'\r' || meaning.back() == L' '))
        meaning.pop_back();
    std::string result = "error " + std::to_string(lastError);
    return meaning.empty() ? result : result + ", " + Narrow(meaning);
}

uint32_t OpenWin32Port(const std::string& name, std::unique_ptr<CPortHandle>& handle)
{
    // "\\.\" alone would name the device namespace itself, not a port.
    if (name.empty())
        return kErrorInvalidName;
    // Port names are short; one past a path's length is a mistake in the settings, which
    // the system would report as some other error.
    if (name.size() > MAX_PATH)
        return kErrorNameTooLong;
    const std::wstring path = L"\\\\.\\" + Widen(name);
    HANDLE port = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE)
        return LastError();
    handle = std::make_unique<CWin32PortHandle>(port);
    return kErrorSuccess;
}

CWin32PortHandle::~CWin32PortHandle()
{
    CloseHandle(handle);
}

uint32_t CWin32PortHandle::SetState(const CPortState& state)
{
    // Built from zero: limits and the other special characters stay 0.
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = state.baudRate;
    dcb.ByteSize = state.byteSize;
    dcb.Parity = state.parity;
    dcb.StopBits = state.stopBits;
    const uint32_t f = state.flags;
    dcb.fBinary = (f & kBinary) != 0;
    dcb.fParity = (f & kParity) != 0;
    dcb.fOutxCtsFlow = (f & kOutxCtsFlow) != 0;
    dcb.fOutxDsrFlow = (f & kOutxDsrFlow) != 0;
    dcb.fDtrControl = (f >> kDtrControlShift) & 3;
    dcb.fDsrSensitivity = (f & kDsrSensitivity) != 0;
    dcb.fTXContinueOnXoff = (f & kTxContinueOnXoff) != 0;
    dcb.fOutX = (f & kOutX) != 0;
    dcb.fInX = (f & kInX) != 0;
    dcb.fErrorChar = (f & kErrorChar) != 0;
    dcb.fNull = (f & kNull) != 0;
    dcb.fRtsControl = (f >> kRtsControlShift) & 3;
    dcb.fAbortOnError = (f & kAbortOnError) != 0;
    dcb.XonChar = static_cast<char>(state.xonChar);
    dcb.XoffChar = static_cast<char>(state.xoffChar);
    // SetCommState is documented to refuse this, and serial drivers do, whatever Wine
    // lets through; and the DCB's documentation says fBinary must be TRUE.
    if (dcb.XonChar == dcb.XoffChar || !dcb.fBinary)
        return ERROR_INVALID_PARAMETER;
    return SetCommState(handle, &dcb) ? kErrorSuccess : Failed();
}

uint32_t CWin32PortHandle::GetState(CPortState& state)
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle, &dcb))
        return Failed();
    state.baudRate = dcb.BaudRate;
    state.byteSize = dcb.ByteSize;
    state.parity = dcb.Parity;
    state.stopBits = dcb.StopBits;
    state.xonChar = static_cast<uint8_t>(dcb.XonChar);
    state.xoffChar = static_cast<uint8_t>(dcb.XoffChar);
    state.flags = (dcb.fBinary ? kBinary : 0) | (dcb.fParity ? kParity : 0) |
                  (dcb.fOutxCtsFlow ? kOutxCtsFlow : 0) | (dcb.fOutxDsrFlow ? kOutxDsrFlow : 0) |
                  (uint32_t(dcb.fDtrControl) << kDtrControlShift) |
                  (dcb.fDsrSensitivity ? kDsrSensitivity : 0) |
                  (dcb.fTXContinueOnXoff ? kTxContinueOnXoff : 0) | (dcb.fOutX ? kOutX : 0) |
                  (dcb.fInX ? kInX : 0) | (dcb.fErrorChar ? kErrorChar : 0) |
                  (dcb.fNull ? kNull : 0) | (uint32_t(dcb.fRtsControl) << kRtsControlShift) |
                  (dcb.fAbortOnError ? kAbortOnError : 0);
    return kErrorSuccess;
}

uint32_t CWin32PortHandle::SetupQueues(uint32_t inSize, uint32_t outSize)
{
    return SetupComm(handle, inSize, outSize) ? kErrorSuccess : Failed();
}

uint32_t CWin32PortHandle::SetTimeouts(const CPortTimeouts& t)
{
    COMMTIMEOUTS timeouts{t.readInterval, t.readTotalMultiplier, t.readTotalConstant,
                          t.writeTotalMultiplier, t.writeTotalConstant};
    return SetCommTimeouts(handle, &timeouts) ? kErrorSuccess : Failed();
}

uint32_t CWin32PortHandle::GetTimeouts(CPortTimeouts& t)
{
    COMMTIMEOUTS timeouts{};
    if (!GetCommTimeouts(handle, &timeouts))
        return Failed();
    t = CPortTimeouts{timeouts.ReadIntervalTimeout, timeouts.ReadTotalTimeoutMultiplier,
                      timeouts.ReadTotalTimeoutConstant, timeouts.WriteTotalTimeoutMultiplier,
                      timeouts.WriteTotalTimeoutConstant};
    return kErrorSuccess;
}

uint32_t CWin32PortHandle::Read(void* buffer, unsigned size, unsigned* done)
{
    DWORD count = 0;
    const BOOL ok = ReadFile(handle, buffer, size, &count, nullptr);
    *done = count;
    return ok ? kErrorSuccess : Failed();
}

uint32_t CWin32PortHandle::Write(const void* data, unsigned size, unsigned* done)
{
    DWORD count = 0;
    const BOOL ok = WriteFile(handle, data, size, &count, nullptr);
    *done = count;
    return ok ? kErrorSuccess : Failed();
}

uint32_t CWin32PortHandle::Purge(unsigned flags)
{
    return PurgeComm(handle, flags) ? kErrorSuccess : Failed();
}

uint32_t CWin32PortHandle::ClearErrors()
{
    return ClearCommError(handle, nullptr, nullptr) ? kErrorSuccess : Failed();
}

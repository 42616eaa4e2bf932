#include "serial/errors/errors.h"

#include "serial/errors/result_codes.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>

namespace sio {
namespace {

struct MessageEntry {
    int code;
    std::string_view message;
};

// Sorted by the absolute value of the code, each value once. It carries the
// rows this system can meet; codes of the facilities it does not contain
// (modems, fax, telephony ...) fall to the "Siop exception" rule.
constexpr std::array kMessageTable = std::to_array<MessageEntry>({
    {0, "OK"},
    {-2, "File not found"},
    {-3, "Path not found"},
    {-4, "Too many open files"},
    {-5, "File access denied"},
    {-6, "Invalid file handle"},
    {-8, "Insufficient memory"},
    {-15, "Invalid drive"},
    {-18, "No more files"},
    {-100, "Attempt to read beyond end of file"},
    {-101, "Disk is full"},
    {-102, "File/device not assigned"},
    {-103, "File/device not open"},
    {-104, "File/device not open for input"},
    {-105, "File/device not open for output"},
    {-150, "Disk is write-protected"},
    {-151, "Unknown disk unit"},
    {-152, "Drive is not ready"},
    {-153, "Unknown command"},
    {-154, "Data error"},
    {-155, "Bad request structure length"},
    {-156, "Seek error"},
    {-157, "Unknown media type"},
    {-158, "Disk sector not found"},
    {-159, "Printer is out of paper"},
    {-160, "Device write error"},
    {-161, "Device read error"},
    {-162, "General failure"},
    {ecBadHandle, "Bad handle passed to com function"},
    {ecBadArgument, "Bad argument passed to function"},
    {ecGotQuitMsg, "Got quit message"},
    {ecBufferTooBig, "Terminal buffer greater than 65521"},
    {ecPortNotAssigned, "ComPort component not assigned"},
    {ecInternal, "Internal error creating window class"},
    {ecModemNotAssigned, "Modem component not assigned"},
    {ecPhonebookNotAssigned, "Phonebook component not assigned"},
    {ecCannotUseWithWinSock, "Component not compatible with WinSock"},
    {ecBadId, "ie_BadId - Specified comport doesn't exist"},
    {ecBaudRate, "ie_Baudrate - unsupported baud rate"},
    {ecByteSize, "ie_Bytesize - invalid byte size"},
    {ecDefault, "ie_Default - error in default parameters"},
    {ecHardware, "ie_Hardware - Specified comport in use"},
    {ecMemory, "ie_Memory - unable to allocate queues"},
    {ecCommNotOpen, "ie_NOpen - device not open"},
    {ecAlreadyOpen, "ie_Open - device already open"},
    {ecNoHandles, "No more handles, can't open port"},
    {ecNoTimers, "No timers available"},
    {ecNoPortSelected, "The ComNumber property of the TSioComPort has not been set"},
    {ecNotOpenedByTapi, "Comport was not opened by Tapi"},
    {ecNullApi, "No device layer specified"},
    {ecNotSupported, "Function not supported by driver"},
    {ecRegisterHandlerFailed, "EnableCommNotification failed"},
    {ecPutBlockFail, "Failed to put entire block"},
    {ecGetBlockFail, "Failed to get entire block"},
    {ecOutputBufferTooSmall, "Output buffer too small for block"},
    {ecBufferIsEmpty, "Buffer is empty"},
    {ecTracingNotEnabled, "Tracing not enabled"},
    {ecLoggingNotEnabled, "Logging not enabled"},
    {ecBaseAddressNotSet, "Base address not set"},
    {ecNoMoreTriggers, "No more trigger slots"},
    {ecTriggerTooLong, "Data trigger too long"},
    {ecBadTriggerHandle, "Bad trigger handle"},
});

constexpr std::size_t kMaxMessageLength = 255;

constexpr std::int64_t Magnitude(int code) { return code < 0 ? -static_cast<std::int64_t>(code) : code; }

constexpr bool TableIsSorted() {
    for (std::size_t i = 1; i < kMessageTable.size(); ++i) {
        if (Magnitude(kMessageTable[i - 1].code) >= Magnitude(kMessageTable[i].code)) return false;
    }
    return true;
}
static_assert(TableIsSorted(), "the message table is binary-searched on |code|");

// Control characters become blanks, then every run of blanks shrinks to one;
// the system's CR LF line end thus leaves a single trailing blank.
std::string CleanSystemText(std::string_view raw) {
    std::string text;
    for (char c : raw) {
        const char shown = static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
        if (shown == ' ' && !text.empty() && text.back() == ' ') continue;
        text.push_back(shown);
    }
    return text;
}

[[noreturn]] void RaiseForTableCode(int code) {
    switch (code) {
        case ecBadArgument: throw EBadArgument(code);
        case ecGotQuitMsg: throw EGotQuitMsg(code);
        case ecBufferTooBig: throw EBufferTooBig(code);
        case ecPortNotAssigned: throw EPortNotAssigned(code);
        case ecInternal: throw EInternal(code);
        case ecModemNotAssigned: throw EModemNotAssigned(code);
        case ecPhonebookNotAssigned: throw EPhonebookNotAssigned(code);
        case ecCannotUseWithWinSock: throw ECannotUseWithWinSock(code);
        case ecBadId: throw EBadId(code);
        case ecBaudRate: throw EBaudRate(code);
        case ecByteSize: throw EByteSize(code);
        case ecDefault: throw EDefault(code);
        case ecHardware: throw EHardware(code);
        case ecMemory: throw EMemory(code);
        case ecCommNotOpen: throw ECommNotOpen(code);
        case ecAlreadyOpen: throw EAlreadyOpen(code);
        case ecNoHandles: throw ENoHandles(code);
        case ecNoTimers: throw ENoTimers(code);
        case ecNoPortSelected: throw ENoPortSelected(code);
        case ecNotOpenedByTapi: throw ENotOpenedByTapi(code);
        case ecNullApi: throw ENullApi(code);
        case ecRegisterHandlerFailed: throw ERegisterHandlerFailed(code);
        case ecPutBlockFail: throw EPutBlockFail(code);
        case ecGetBlockFail: throw EGetBlockFail(code);
        case ecOutputBufferTooSmall: throw EOutputBufferTooSmall(code);
        case ecBufferIsEmpty: throw EBufferIsEmpty(code);
        case ecTracingNotEnabled: throw ETracingNotEnabled(code);
        case ecLoggingNotEnabled: throw ELoggingNotEnabled(code);
        case ecBaseAddressNotSet: throw EBaseAddressNotSet(code);
        case ecNoMoreTriggers: throw ENoMoreTriggers(code);
        case ecTriggerTooLong: throw ETriggerTooLong(code);
        case ecBadTriggerHandle: throw EBadTriggerHandle(code);
        default: throw ESioException("Siop exception");
    }
}

}  // namespace

ESioException::ESioException(int code) : Exception(ErrorMessageFor(code)), ErrorCode(code) {}

ESioException::ESioException(const std::string& text) : Exception(text) {}

std::string ErrorMessageFor(int code) {
    const std::int64_t key = Magnitude(code);
    const auto found = std::lower_bound(
        kMessageTable.begin(), kMessageTable.end(), key,
        [](const MessageEntry& entry, std::int64_t k) { return Magnitude(entry.code) < k; });
    if (found != kMessageTable.end() && Magnitude(found->code) == key) {
        return std::string(found->message.substr(0, kMaxMessageLength));
    }
    if (key > INT32_MAX) return {};
    const std::string system = SystemMessageText(static_cast<int>(key));
    return CleanSystemText(std::string_view(system).substr(0, kMaxMessageLength));
}

int RaiseOnError(int code, bool loading) {
    if (code >= 0 || loading) return code;
    if (code <= ecFirstSystemError && code >= ecLastSystemError) {
        if (code == ecOutOfMemory) throw EOutOfMemory();
        throw EInOutError(ErrorMessageFor(code), -code);
    }
    RaiseForTableCode(code);
}

}  // namespace sio

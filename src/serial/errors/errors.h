// The error model of the serial component: exception classes for the result
// codes, the code-to-message table and the one check that turns a negative
// code into an exception.
#pragma once

#include <exception>
#include <string>

namespace sio {

// Common base of every exception the component raises: carries the message,
// like the run-time library's base exception class of the original toolkit.
class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& Message() const noexcept { return message_; }

private:
    std::string message_;
};

// An input/output error: message plus the operating-system error number.
class EInOutError : public Exception {
public:
    EInOutError(std::string message, int errorCode)
        : Exception(std::move(message)), ErrorCode(errorCode) {}
    int ErrorCode;
};

class EOutOfMemory : public Exception {
public:
    EOutOfMemory() : Exception("Out of memory") {}
};

class ESioException : public Exception {
public:
    // From a code: the message is the table's text for it (empty when none).
    explicit ESioException(int code);
    // From a text: ErrorCode is 0.
    explicit ESioException(const std::string& text);
    explicit ESioException(const char* text) : ESioException(std::string(text)) {}

    int ErrorCode = 0;
};

#define SIO_EXCEPTION_CLASS(Name, Base) \
    class Name : public Base {          \
    public:                             \
        using Base::Base;               \
    };

SIO_EXCEPTION_CLASS(EGeneral, ESioException)
SIO_EXCEPTION_CLASS(EOpenComm, ESioException)
SIO_EXCEPTION_CLASS(ESerialIO, ESioException)
SIO_EXCEPTION_CLASS(EModem, ESioException)
SIO_EXCEPTION_CLASS(ETrigger, ESioException)
SIO_EXCEPTION_CLASS(EProtocol, ESioException)
SIO_EXCEPTION_CLASS(EINI, ESioException)
SIO_EXCEPTION_CLASS(EFax, ESioException)
SIO_EXCEPTION_CLASS(ETapi, ESioException)
SIO_EXCEPTION_CLASS(ERas, ESioException)

SIO_EXCEPTION_CLASS(EBadArgument, EGeneral)
SIO_EXCEPTION_CLASS(EGotQuitMsg, EGeneral)
SIO_EXCEPTION_CLASS(EBufferTooBig, EGeneral)
SIO_EXCEPTION_CLASS(EPortNotAssigned, EGeneral)
SIO_EXCEPTION_CLASS(EInternal, EGeneral)
SIO_EXCEPTION_CLASS(EModemNotAssigned, EGeneral)
SIO_EXCEPTION_CLASS(EPhonebookNotAssigned, EGeneral)
SIO_EXCEPTION_CLASS(ECannotUseWithWinSock, EGeneral)

SIO_EXCEPTION_CLASS(EBadId, EOpenComm)
SIO_EXCEPTION_CLASS(EBaudRate, EOpenComm)
SIO_EXCEPTION_CLASS(EByteSize, EOpenComm)
SIO_EXCEPTION_CLASS(EDefault, EOpenComm)
SIO_EXCEPTION_CLASS(EHardware, EOpenComm)
SIO_EXCEPTION_CLASS(EMemory, EOpenComm)
SIO_EXCEPTION_CLASS(ECommNotOpen, EOpenComm)
SIO_EXCEPTION_CLASS(EAlreadyOpen, EOpenComm)
SIO_EXCEPTION_CLASS(ENoHandles, EOpenComm)
SIO_EXCEPTION_CLASS(ENoTimers, EOpenComm)
SIO_EXCEPTION_CLASS(ENoPortSelected, EOpenComm)
SIO_EXCEPTION_CLASS(ENotOpenedByTapi, EOpenComm)

SIO_EXCEPTION_CLASS(ENullApi, ESerialIO)
SIO_EXCEPTION_CLASS(ERegisterHandlerFailed, ESerialIO)
SIO_EXCEPTION_CLASS(EPutBlockFail, ESerialIO)
SIO_EXCEPTION_CLASS(EGetBlockFail, ESerialIO)
SIO_EXCEPTION_CLASS(EOutputBufferTooSmall, ESerialIO)
SIO_EXCEPTION_CLASS(EBufferIsEmpty, ESerialIO)
SIO_EXCEPTION_CLASS(ETracingNotEnabled, ESerialIO)
SIO_EXCEPTION_CLASS(ELoggingNotEnabled, ESerialIO)
SIO_EXCEPTION_CLASS(EBaseAddressNotSet, ESerialIO)

SIO_EXCEPTION_CLASS(ENoMoreTriggers, ETrigger)
SIO_EXCEPTION_CLASS(ETriggerTooLong, ETrigger)
SIO_EXCEPTION_CLASS(EBadTriggerHandle, ETrigger)

#undef SIO_EXCEPTION_CLASS

// The message for a code, looked up by its absolute value: the component's
// table first, then the operating system's text (cleaned of control
// characters and blank runs); the empty text when neither knows it.
std::string ErrorMessageFor(int code);

// The operating system's text for an error number, as the system gives it
// (ending in CR LF); empty for a number it does not know.
std::string SystemMessageText(int number);

// Returns a non-negative code unchanged, and any code while the owning
// component is still being loaded; otherwise raises the exception that
// belongs to the code and does not return.
int RaiseOnError(int code, bool loading = false);

}  // namespace sio

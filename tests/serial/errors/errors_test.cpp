#include "serial/errors/errors.h"

#include "serial/errors/result_codes.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <typeinfo>
#include <utility>

using namespace sio;

namespace {

// Runs `raise` and hands the exception it throws, as type E, to `check`.
template <typename E>
void ExpectRaised(const std::function<void()>& raise, const std::function<void(const E&)>& check) {
    try {
        raise();
        ADD_FAILURE() << "nothing was raised";
    } catch (const E& e) {
        check(e);
    } catch (const std::exception& e) {
        ADD_FAILURE() << "raised the wrong class: " << e.what();
    }
}

void ExpectSiopException(int code) {
    ExpectRaised<ESioException>([=] { RaiseOnError(code); }, [=](const ESioException& e) {
        EXPECT_EQ(typeid(e), typeid(ESioException)) << code;
        EXPECT_STREQ(e.what(), "Siop exception") << code;
        EXPECT_EQ(e.ErrorCode, 0) << code;
    });
}

}  // namespace

TEST(RaiseOnError, ReturnsNonNegativeCodesUnchanged) {
    EXPECT_EQ(RaiseOnError(0), 0);
    EXPECT_EQ(RaiseOnError(7), 7);
    EXPECT_EQ(RaiseOnError(INT_MAX), INT_MAX);
}

TEST(RaiseOnError, RaisesNothingWhileLoading) {
    EXPECT_EQ(RaiseOnError(ecBadId, true), ecBadId);
    EXPECT_EQ(RaiseOnError(-2, true), -2);
}

TEST(RaiseOnError, AlreadyOpenIsAnOpenCommAndASioException) {
    ExpectRaised<EAlreadyOpen>([] { RaiseOnError(-2008); }, [](const EAlreadyOpen& e) {
        EXPECT_EQ(e.ErrorCode, -2008);
        EXPECT_STREQ(e.what(), "ie_Open - device already open");
        EXPECT_NE(dynamic_cast<const EOpenComm*>(&e), nullptr);
        EXPECT_NE(dynamic_cast<const ESioException*>(&e), nullptr);
        EXPECT_NE(dynamic_cast<const Exception*>(&e), nullptr);
    });
}

TEST(RaiseOnError, EachTableCodeRaisesItsOwnClassAndText) {
    ExpectRaised<EBadId>([] { RaiseOnError(ecBadId); }, [](const EBadId& e) {
        EXPECT_STREQ(e.what(), "ie_BadId - Specified comport doesn't exist");
    });
    ExpectRaised<ECommNotOpen>([] { RaiseOnError(ecCommNotOpen); }, [](const ECommNotOpen& e) {
        EXPECT_STREQ(e.what(), "ie_NOpen - device not open");
    });
    ExpectRaised<EOutputBufferTooSmall>([] { RaiseOnError(ecOutputBufferTooSmall); },
                                        [](const EOutputBufferTooSmall& e) {
                                            EXPECT_STREQ(e.what(), "Output buffer too small for block");
                                            EXPECT_NE(dynamic_cast<const ESerialIO*>(&e), nullptr);
                                        });
    ExpectRaised<EBufferIsEmpty>([] { RaiseOnError(ecBufferIsEmpty); }, [](const EBufferIsEmpty& e) {
        EXPECT_EQ(e.ErrorCode, -3007);
        EXPECT_STREQ(e.what(), "Buffer is empty");
    });
    ExpectRaised<EBadArgument>([] { RaiseOnError(ecBadArgument); }, [](const EBadArgument& e) {
        EXPECT_STREQ(e.what(), "Bad argument passed to function");
        EXPECT_NE(dynamic_cast<const EGeneral*>(&e), nullptr);
    });
    ExpectRaised<ENullApi>([] { RaiseOnError(ecNullApi); }, [](const ENullApi& e) {
        EXPECT_STREQ(e.what(), "No device layer specified");
    });
    ExpectRaised<EBadTriggerHandle>([] { RaiseOnError(ecBadTriggerHandle); },
                                    [](const EBadTriggerHandle& e) {
                                        EXPECT_STREQ(e.what(), "Bad trigger handle");
                                        EXPECT_NE(dynamic_cast<const ETrigger*>(&e), nullptr);
                                    });
    ExpectRaised<ENoPortSelected>([] { RaiseOnError(ecNoPortSelected); }, [](const ENoPortSelected& e) {
        EXPECT_STREQ(e.what(), "The ComNumber property of the TSioComPort has not been set");
    });
}

TEST(RaiseOnError, SystemErrorsBecomeInOutErrorsWithTheirNumber) {
    ExpectRaised<EInOutError>([] { RaiseOnError(-2); }, [](const EInOutError& e) {
        EXPECT_STREQ(e.what(), "File not found");
        EXPECT_EQ(e.ErrorCode, 2);
    });
    ExpectRaised<EInOutError>([] { RaiseOnError(-162); }, [](const EInOutError& e) {
        EXPECT_STREQ(e.what(), "General failure");
        EXPECT_EQ(e.ErrorCode, 162);
    });
    ExpectRaised<EOutOfMemory>([] { RaiseOnError(-8); },
                               [](const EOutOfMemory& e) { EXPECT_STREQ(e.what(), "Out of memory"); });
}

TEST(RaiseOnError, SystemTextIsCleanedToOneTrailingBlank) {
    ExpectRaised<EInOutError>([] { RaiseOnError(-87); }, [](const EInOutError& e) {
        EXPECT_STREQ(e.what(), "The parameter is incorrect. ");
        EXPECT_EQ(e.ErrorCode, 87);
    });
    ExpectRaised<EInOutError>([] { RaiseOnError(-31); }, [](const EInOutError& e) {
        EXPECT_STREQ(e.what(), "A device attached to the system is not functioning. ");
    });
    // A number neither the table nor the system knows gives an empty text.
    ExpectRaised<EInOutError>([] { RaiseOnError(-99); }, [](const EInOutError& e) {
        EXPECT_STREQ(e.what(), "");
        EXPECT_EQ(e.ErrorCode, 99);
    });
}

TEST(RaiseOnError, CodesWithoutAClassRaiseSiopException) {
    for (int code : {-1, -163, ecBadHandle, ecNotSupported, -3011, -4001, -1000000, INT_MIN}) {
        ExpectSiopException(code);
    }
}

TEST(ErrorMessageFor, LooksUpByAbsoluteValue) {
    EXPECT_EQ(ErrorMessageFor(2008), ErrorMessageFor(-2008));
    EXPECT_EQ(ErrorMessageFor(0), "OK");
    EXPECT_EQ(ErrorMessageFor(-1001), "Bad handle passed to com function");
    EXPECT_EQ(ErrorMessageFor(3002), "Function not supported by driver");
    EXPECT_EQ(ErrorMessageFor(1), "Incorrect function. ");
    EXPECT_EQ(ErrorMessageFor(777), "");
    EXPECT_EQ(ErrorMessageFor(INT_MIN), "");
}

TEST(ESioException, ConstructorsSetCodeAndMessage) {
    const ESioException fromCode(ecHardware);
    EXPECT_EQ(fromCode.ErrorCode, ecHardware);
    EXPECT_STREQ(fromCode.what(), "ie_Hardware - Specified comport in use");
    const ESioException unknown(-9999);
    EXPECT_EQ(unknown.ErrorCode, -9999);
    EXPECT_STREQ(unknown.what(), "");
    const ESioException fromText(std::string("Dispatcher failed"));
    EXPECT_EQ(fromText.ErrorCode, 0);
    EXPECT_STREQ(fromText.what(), "Dispatcher failed");
    // Leaf classes inherit both constructors.
    const EBadId fromLeafText("custom");
    EXPECT_EQ(fromLeafText.ErrorCode, 0);
    EXPECT_STREQ(fromLeafText.what(), "custom");
}

// Every code with a class of its own: a code raising a neighbour's class, or
// a row missing from the table, shows here.
TEST(RaiseOnError, EveryClassedCodeRaisesExactlyItsClass) {
    struct Row {
        int code;
        const std::type_info& type;
        const char* text;
    };
    const Row rows[] = {
        {ecBadArgument, typeid(EBadArgument), "Bad argument passed to function"},
        {ecGotQuitMsg, typeid(EGotQuitMsg), "Got quit message"},
        {ecBufferTooBig, typeid(EBufferTooBig), "Terminal buffer greater than 65521"},
        {ecPortNotAssigned, typeid(EPortNotAssigned), "ComPort component not assigned"},
        {ecInternal, typeid(EInternal), "Internal error creating window class"},
        {ecModemNotAssigned, typeid(EModemNotAssigned), "Modem component not assigned"},
        {ecPhonebookNotAssigned, typeid(EPhonebookNotAssigned), "Phonebook component not assigned"},
        {ecCannotUseWithWinSock, typeid(ECannotUseWithWinSock), "Component not compatible with WinSock"},
        {ecBadId, typeid(EBadId), "ie_BadId - Specified comport doesn't exist"},
        {ecBaudRate, typeid(EBaudRate), "ie_Baudrate - unsupported baud rate"},
        {ecByteSize, typeid(EByteSize), "ie_Bytesize - invalid byte size"},
        {ecDefault, typeid(EDefault), "ie_Default - error in default parameters"},
        {ecHardware, typeid(EHardware), "ie_Hardware - Specified comport in use"},
        {ecMemory, typeid(EMemory), "ie_Memory - unable to allocate queues"},
        {ecCommNotOpen, typeid(ECommNotOpen), "ie_NOpen - device not open"},
        {ecAlreadyOpen, typeid(EAlreadyOpen), "ie_Open - device already open"},
        {ecNoHandles, typeid(ENoHandles), "No more handles, can't open port"},
        {ecNoTimers, typeid(ENoTimers), "No timers available"},
        {ecNoPortSelected, typeid(ENoPortSelected), "The ComNumber property of the TSioComPort has not been set"},
        {ecNotOpenedByTapi, typeid(ENotOpenedByTapi), "Comport was not opened by Tapi"},
        {ecNullApi, typeid(ENullApi), "No device layer specified"},
        {ecRegisterHandlerFailed, typeid(ERegisterHandlerFailed), "EnableCommNotification failed"},
        {ecPutBlockFail, typeid(EPutBlockFail), "Failed to put entire block"},
        {ecGetBlockFail, typeid(EGetBlockFail), "Failed to get entire block"},
        {ecOutputBufferTooSmall, typeid(EOutputBufferTooSmall), "Output buffer too small for block"},
        {ecBufferIsEmpty, typeid(EBufferIsEmpty), "Buffer is empty"},
        {ecTracingNotEnabled, typeid(ETracingNotEnabled), "Tracing not enabled"},
        {ecLoggingNotEnabled, typeid(ELoggingNotEnabled), "Logging not enabled"},
        {ecBaseAddressNotSet, typeid(EBaseAddressNotSet), "Base address not set"},
        {ecNoMoreTriggers, typeid(ENoMoreTriggers), "No more trigger slots"},
        {ecTriggerTooLong, typeid(ETriggerTooLong), "Data trigger too long"},
        {ecBadTriggerHandle, typeid(EBadTriggerHandle), "Bad trigger handle"},
    };
    for (const Row& row : rows) {
        ExpectRaised<ESioException>([&] { RaiseOnError(row.code); }, [&](const ESioException& e) {
            EXPECT_TRUE(typeid(e) == row.type) << row.code << " raised " << typeid(e).name();
            EXPECT_STREQ(e.what(), row.text) << row.code;
            EXPECT_EQ(e.ErrorCode, row.code);
        });
    }
}

// Each number the device layer reports has the system's own text, CR LF
// included; the table's rows for 2 to 8 hide these from ErrorMessageFor.
TEST(SystemMessageText, EveryNumberTheDeviceLayerReportsHasItsText) {
    const std::pair<int, const char*> rows[] = {
        {1, "Incorrect function.\r\n"},
        {2, "The system cannot find the file specified.\r\n"},
        {3, "The system cannot find the path specified.\r\n"},
        {4, "The system cannot open the file.\r\n"},
        {5, "Access is denied.\r\n"},
        {6, "The handle is invalid.\r\n"},
        {8, "Not enough memory resources are available to process this command.\r\n"},
        {31, "A device attached to the system is not functioning.\r\n"},
        {87, "The parameter is incorrect.\r\n"},
    };
    for (const auto& [number, text] : rows) EXPECT_EQ(SystemMessageText(number), text) << number;
    EXPECT_EQ(SystemMessageText(7), "");
}

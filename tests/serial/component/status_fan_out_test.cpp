// A status notice reaches the component's hidden window with the trigger's
// handle; its three low bits name the event the component raises.
#include "com_port_test_support.h"

#include "serial/core/dispatcher.h"
#include "serial/core/message_link.h"

#include <string>
#include <vector>

using namespace sio;

TEST_F(ComPortFakeTest, StatusNoticesRaiseTheEventNamedByTheHandlesLowThreeBits) {
    std::vector<std::string> raised;
    port.SetOnTriggerModemStatus([&](TSioCustomComPort*) { raised.push_back("modem"); });
    port.SetOnTriggerLineError([&](TSioCustomComPort*, Word, bool) { raised.push_back("line error"); });
    port.SetOnTriggerOutbuffFree([&](TSioCustomComPort*) { raised.push_back("free"); });
    port.SetOnTriggerOutbuffUsed([&](TSioCustomComPort*) { raised.push_back("used"); });
    port.SetOnTriggerOutSent([&](TSioCustomComPort*) { raised.push_back("sent"); });
    OpenPort();
    const LParam fromDevice = static_cast<LParam>(Device().Handle()) * 65536;

    const std::pair<WParam, const char*> rows[] = {
        {1, "modem"}, {2, "line error"}, {3, "free"}, {4, "used"}, {5, "sent"},
        {6, ""},      {7, ""},           {0x0B, "free"}, {0x0C, "used"}, {0x0D, "sent"},
    };
    for (const auto& [handle, event] : rows) {
        raised.clear();
        // Sent on the window's own thread: handled before the call returns.
        ASSERT_TRUE(CurrentMessageLink().SendMessageTimeout(port.NotifyWindow(), MsgTriggerStatus, handle,
                                                            fromDevice, 1000));
        EXPECT_EQ(raised, (*event ? std::vector<std::string>{event} : std::vector<std::string>{})) << handle;
    }
}

// What the owner changes while the port is open reaches the device at once.
TEST_F(ComPortFakeTest, SettersWhileOpenReachTheDevice) {
    OpenPort();
    port.SetDTR(false);
    EXPECT_EQ(Device().Escapes().back(), CLRDTR);
    port.SetDTR(true);
    EXPECT_EQ(Device().Escapes().back(), SETDTR);
    port.SetDataBits(7);
    EXPECT_EQ(Device().DeviceLine().ByteSize, 7);
    port.SetXOnChar(0x21);
    EXPECT_EQ(Device().DeviceLine().XonChar, 0x21);
    port.SetXOffChar(0x23);
    EXPECT_EQ(Device().DeviceLine().XoffChar, 0x23);
    EXPECT_EQ(Device().DeviceLine().XonChar, 0x21);
}

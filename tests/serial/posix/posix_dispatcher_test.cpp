// TSioPosixDispatcher's own variant: the telephony dispatcher over a
// descriptor someone else opened. The dispatcher over the device layer on
// every line is in the contract suite (tests/serial/contract).
#include "serial/posix/posix_dispatcher.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <string>

#include "pty_pair.h"
#include "serial/errors/result_codes.h"

namespace sio {
namespace {

constexpr int kQueueSize = 40960;  // the main window's port

class TapiDispatcher : public TSioTAPI32Dispatcher {
public:
    using TSioTAPI32Dispatcher::TSioTAPI32Dispatcher;
};

TEST(PosixDispatcher, TelephonyVariantUsesTheHandedOverDescriptor) {
    test::PtyPair pty;
    {
        TapiDispatcher none(nullptr, 0);
        EXPECT_EQ(none.OpenAndStart("", 9600, 0, 8, 1, kQueueSize, kQueueSize, 0), ecCommNotOpen);
    }
    int fd = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    TapiDispatcher tapi(nullptr, fd);
    ASSERT_EQ(tapi.OpenAndStart("", 9600, 0, 8, 1, kQueueSize, kQueueSize, optDtrLevel), 0);
    ASSERT_EQ(tapi.QueueBlock("ATZ\r", 4), 0);
    EXPECT_EQ(pty.ReadMaster(4), "ATZ\r");
    tapi.ShutDown();
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1);  // closed with the port
}

}  // namespace
}  // namespace sio

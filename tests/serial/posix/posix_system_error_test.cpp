#include "serial/posix/system_error.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "serial/comm_types.h"

namespace sio {
namespace {

TEST(SystemError, MissingDevicesAreNoSuchPort) {
    EXPECT_EQ(SystemError(ENOENT, true), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(SystemError(ENODEV, true), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(SystemError(ENXIO), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(SystemError(ENOTDIR, true), ERROR_PATH_NOT_FOUND);
}

TEST(SystemError, InputOutputErrorMeansNoSuchPortOnlyWhileOpening) {
    // errno 5 is EIO; passed through it would read as "port in use".
    EXPECT_EQ(SystemError(EIO, true), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(SystemError(EIO), ERROR_GEN_FAILURE);
}

TEST(SystemError, NoTerminalIsNoSuchPortWhileOpeningAndUnsupportedLater) {
    EXPECT_EQ(SystemError(ENOTTY, true), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(SystemError(EISDIR, true), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(SystemError(ENOTTY), ERROR_INVALID_FUNCTION);
}

TEST(SystemError, HeldOrForbiddenPortsAreInUse) {
    for (int error : {EBUSY, EAGAIN, EWOULDBLOCK, EACCES, EPERM})
        EXPECT_EQ(SystemError(error, true), ERROR_ACCESS_DENIED) << error;
}

TEST(SystemError, ResourceAndArgumentErrors) {
    EXPECT_EQ(SystemError(EMFILE), ERROR_TOO_MANY_OPEN_FILES);
    EXPECT_EQ(SystemError(ENFILE), ERROR_TOO_MANY_OPEN_FILES);
    EXPECT_EQ(SystemError(EBADF), ERROR_INVALID_HANDLE);
    EXPECT_EQ(SystemError(ENOMEM), ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(SystemError(EINVAL), ERROR_INVALID_PARAMETER);
}

TEST(SystemError, AnythingElseIsAGeneralFailureNeverSuccess) {
    EXPECT_EQ(SystemError(0), ERROR_GEN_FAILURE);
    EXPECT_EQ(SystemError(ESRCH), ERROR_GEN_FAILURE);  // 3 would read as "path not found"
    EXPECT_EQ(SystemError(EPIPE), ERROR_GEN_FAILURE);
}

}  // namespace
}  // namespace sio

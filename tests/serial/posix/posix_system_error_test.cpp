#include "serial/posix/system_error.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "serial/comm_types.h"

namespace sio {
namespace {

TEST(SystemError, OpeningFailuresMeanNoSuchPortOrInUse) {
    for (int error : {ENOENT, ENODEV, ENXIO, EIO, ENOTTY, EISDIR})
        EXPECT_EQ(SystemError(error, true), ERROR_FILE_NOT_FOUND) << error;
    EXPECT_EQ(SystemError(ENOTDIR, true), ERROR_PATH_NOT_FOUND);
    for (int error : {EBUSY, EWOULDBLOCK, EACCES, EPERM})
        EXPECT_EQ(SystemError(error, true), ERROR_ACCESS_DENIED) << error;
}

TEST(SystemError, ErrnoIsNeverPassedThrough) {
    // errno 5 (EIO) would read as "port in use", errno 3 (ESRCH) as "no such port".
    EXPECT_EQ(SystemError(EIO), ERROR_GEN_FAILURE);
    EXPECT_EQ(SystemError(ESRCH), ERROR_GEN_FAILURE);
    EXPECT_EQ(SystemError(ENOTTY), ERROR_INVALID_FUNCTION);
    EXPECT_EQ(SystemError(EMFILE), ERROR_TOO_MANY_OPEN_FILES);
    EXPECT_EQ(SystemError(EBADF), ERROR_INVALID_HANDLE);
    EXPECT_EQ(SystemError(ENOMEM), ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(SystemError(EINVAL), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(SystemError(0), ERROR_GEN_FAILURE);  // a failure never reads as success
}

}  // namespace
}  // namespace sio

#include "serial/posix/system_error.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "serial/core/comm_types.h"

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

// The whole translation, opening and later: a number dropped from it falls
// to the general failure and shows here.
TEST(SystemError, EveryTranslatedNumberOpeningAndLater) {
    struct Row {
        int error;
        int opening, later;
    };
    const Row rows[] = {
        {ENOENT, ERROR_FILE_NOT_FOUND, ERROR_FILE_NOT_FOUND},
        {ENODEV, ERROR_FILE_NOT_FOUND, ERROR_FILE_NOT_FOUND},
        {ENXIO, ERROR_FILE_NOT_FOUND, ERROR_FILE_NOT_FOUND},
        {EIO, ERROR_FILE_NOT_FOUND, ERROR_GEN_FAILURE},
        {ENOTTY, ERROR_FILE_NOT_FOUND, ERROR_INVALID_FUNCTION},
        {EISDIR, ERROR_FILE_NOT_FOUND, ERROR_GEN_FAILURE},
        {ENOTDIR, ERROR_PATH_NOT_FOUND, ERROR_PATH_NOT_FOUND},
        {EMFILE, ERROR_TOO_MANY_OPEN_FILES, ERROR_TOO_MANY_OPEN_FILES},
        {ENFILE, ERROR_TOO_MANY_OPEN_FILES, ERROR_TOO_MANY_OPEN_FILES},
        {EBUSY, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
        {EAGAIN, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
        {EACCES, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
        {EPERM, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
        {EBADF, ERROR_INVALID_HANDLE, ERROR_INVALID_HANDLE},
        {ENOMEM, ERROR_NOT_ENOUGH_MEMORY, ERROR_NOT_ENOUGH_MEMORY},
        {EINVAL, ERROR_INVALID_PARAMETER, ERROR_INVALID_PARAMETER},
        {EPIPE, ERROR_GEN_FAILURE, ERROR_GEN_FAILURE},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(SystemError(row.error, true), row.opening) << row.error;
        EXPECT_EQ(SystemError(row.error, false), row.later) << row.error;
    }
}

}  // namespace
}  // namespace sio

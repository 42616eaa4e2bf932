// The Windows app tests run on the main thread's message queue; an
// exception report fails the case that caused it instead of showing a box.
#include "app/toolkit/win32/application.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    w32tk::InitApplication();
    w32tk::SetExceptionShower([](const std::string& message) {
        ADD_FAILURE() << "exception reported: " << message;
    });
    return RUN_ALL_TESTS();
}

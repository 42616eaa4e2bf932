// The app tests need one application object for the whole run; its
// exception report records instead of showing a box.
#include "app_test_support.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // Test discovery runs this program without the test environment.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    testing::InitGoogleTest(&argc, argv);
    RecordingApplication app(argc, argv);
    return RUN_ALL_TESTS();
}

// main() for test programs without windows of their own.
#include "tests/support/TestMain.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    StartGoogleTestWatcher();
    return RUN_ALL_TESTS();
}

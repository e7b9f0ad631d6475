// Test entry: the first argument that is not a GoogleTest flag names the
// updater exe (a Unix path, as CTest gives it).
#include <gtest/gtest.h>

#include "test_support.h"

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (argc > 1)
        g_updaterExe = WindowsPathFromUnix(argv[1]);
    return RUN_ALL_TESTS();
}

// One prefix for the whole program: the registry connection stays on the
// first prefix it opened, and child processes must see the same one.
#include "backup_test_support.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new backup_test::PrefixEnvironment);
    return RUN_ALL_TESTS();
}

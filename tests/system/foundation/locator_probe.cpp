#include <gtest/gtest.h>

#include "library/core/context.h"
#include "library/include/IxiLumo.h"
#include "platform/sys.h"
#include "support/sim_fixture.h"

// Whatever locator the library finds (or none), the camera opens; only a
// complete locator that accepts initialisation makes it ready.
TEST(LocatorBinding, OpenSucceedsAndReadinessFollowsTheLocator) {
    std::string expect = ix::sys::getEnv("IXTEST_EXPECT_LOCATOR");
    ASSERT_FALSE(expect.empty()) << "run through ctest";
    ixtest::useSimulator();
    ASSERT_EQ(IxOpen(), IX_OK);
    EXPECT_EQ(ix::context().locatorReady, expect == "1" ? 1u : 0u);
    // Control 160 is accepted exactly when the locator is ready.
    EXPECT_EQ(IxSetControlValue(IX_CTL_LOCATOR_ASSIST, 1, 2), expect == "1" ? IX_OK : IX_ERR_NO_CONTROL);
    EXPECT_EQ(IxClose(), IX_OK);
    EXPECT_EQ(ix::context().locatorReady, 0u);
    // A second open binds again from scratch.
    ASSERT_EQ(IxOpen(), IX_OK);
    EXPECT_EQ(ix::context().locatorReady, expect == "1" ? 1u : 0u);
    IxClose();
}

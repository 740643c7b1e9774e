#include "link/link_self_test.h"

#include <gtest/gtest.h>

// The vectors the --self-test mode runs over the link rules; linked without the window or GDI+.
TEST(LinkSelfTest, BuiltInVectorsGetTheirExpectedVerdicts) {
    EXPECT_EQ(runLinkServiceSelfTest(), 0u);
}

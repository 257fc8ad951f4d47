#include <gtest/gtest.h>
#include "video/CompositeVideoSourceProvider.h"
TEST(Composite, Empty) { CompositeVideoSourceProvider p; EXPECT_TRUE(p.GetVideoSources()->empty()); }

#include <gtest/gtest.h>

#include "Vantrelle/Engine.h"

TEST(Engine, ReportsAVersion) { EXPECT_STRNE(vantrelle::engineVersion(), ""); }

#include <gtest/gtest.h>
TEST(MessageComposer, Placeholder) { SUCCEED(); }

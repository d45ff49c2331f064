#include "UniqueHandle.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace
{
std::vector<int> g_closed;

// Handles whose empty value is 0, like most platform handles.
struct ZeroEmptyTraits
{
    using pointer = int;
    static pointer Empty() { return 0; }
    static void Close(pointer value) { g_closed.push_back(value); }
};

// Handles whose empty value is -1, like files and snapshots; 0 is a valid handle here.
struct MinusOneEmptyTraits
{
    using pointer = int;
    static pointer Empty() { return -1; }
    static void Close(pointer value) { g_closed.push_back(value); }
};

using Handle = UniqueHandle<ZeroEmptyTraits>;
using FileHandle = UniqueHandle<MinusOneEmptyTraits>;

class UniqueHandleTest : public testing::Test
{
  protected:
    void SetUp() override { g_closed.clear(); }
};

using Closed = std::vector<int>;

TEST_F(UniqueHandleTest, DestructorClosesOnce)
{
    {
        Handle handle(5);
        EXPECT_TRUE(handle);
        EXPECT_EQ(5, handle.get());
    }
    EXPECT_EQ(Closed{5}, g_closed);
}

TEST_F(UniqueHandleTest, EmptyOwnerClosesNothing)
{
    {
        Handle handle;
        EXPECT_FALSE(handle);
        handle.reset();
    }
    EXPECT_TRUE(g_closed.empty());
}

TEST_F(UniqueHandleTest, MoveConstructionTransfersOwnership)
{
    {
        Handle source(5);
        Handle target(std::move(source));
        EXPECT_FALSE(source);
        EXPECT_EQ(5, target.get());
        EXPECT_TRUE(g_closed.empty());
    }
    EXPECT_EQ(Closed{5}, g_closed);
}

TEST_F(UniqueHandleTest, MoveAssignmentClosesTheTargetsHandle)
{
    {
        Handle source(5);
        Handle target(6);
        target = std::move(source);
        EXPECT_EQ(Closed{6}, g_closed);
        EXPECT_FALSE(source);
        EXPECT_EQ(5, target.get());
    }
    EXPECT_EQ((Closed{6, 5}), g_closed);
}

TEST_F(UniqueHandleTest, ResetTwiceClosesEachHandleOnce)
{
    {
        Handle handle(5);
        handle.reset(6);
        EXPECT_EQ(Closed{5}, g_closed);
        handle.reset();
        EXPECT_EQ((Closed{5, 6}), g_closed);
        EXPECT_FALSE(handle);
    }
    EXPECT_EQ((Closed{5, 6}), g_closed);
}

TEST_F(UniqueHandleTest, ReleaseGivesUpWithoutClosing)
{
    int released = 0;
    {
        Handle handle(5);
        released = handle.release();
        EXPECT_FALSE(handle);
    }
    EXPECT_EQ(5, released);
    EXPECT_TRUE(g_closed.empty());
}

TEST_F(UniqueHandleTest, SelfMoveKeepsTheHandle)
{
    {
        Handle handle(5);
        Handle& alias = handle;
        handle = std::move(alias);
        EXPECT_EQ(5, handle.get());
        EXPECT_TRUE(g_closed.empty());
    }
    EXPECT_EQ(Closed{5}, g_closed);
}

TEST_F(UniqueHandleTest, PutClosesTheOldHandleBeforeTheCallFillsIt)
{
    {
        Handle handle(5);
        int* slot = handle.put();
        EXPECT_EQ(Closed{5}, g_closed);
        EXPECT_EQ(0, *slot);
        *slot = 7;
        EXPECT_EQ(7, handle.get());
    }
    EXPECT_EQ((Closed{5, 7}), g_closed);
}

TEST_F(UniqueHandleTest, MinusOneIsEmptyAndZeroIsAHandle)
{
    {
        FileHandle empty;
        EXPECT_FALSE(empty);
        EXPECT_EQ(-1, empty.get());
        FileHandle zero(0);
        EXPECT_TRUE(zero);
    }
    EXPECT_EQ(Closed{0}, g_closed);
}
} // namespace

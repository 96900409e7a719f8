// Direction events from the drift of the change centre.
#include <gtest/gtest.h>

#include "serveur/actions/Tracking.h"

namespace vorlix {
namespace {

TEST(Tracking, ThreeDetectionsOneSecondApartFireLeftToRightOnce)
{
    TrackingState state;
    EXPECT_EQ(TrackMove(state, 10, 50, 1000), TrackStep::Restarted);
    EXPECT_EQ(state.l2r, 1);
    EXPECT_TRUE(TakeDirections(state, true).empty());
    EXPECT_EQ(TrackMove(state, 40, 50, 1001), TrackStep::Counted);
    EXPECT_EQ(state.l2r, 2);
    EXPECT_EQ(state.r2l, 0);
    EXPECT_TRUE(TakeDirections(state, true).empty());
    EXPECT_EQ(TrackMove(state, 70, 50, 1002), TrackStep::Counted);
    EXPECT_EQ(TakeDirections(state, true), (std::vector<EventKind>{EventKind::LEFT_TO_RIGHT}));
    // the next detection restarts the tracking instead of firing again
    EXPECT_EQ(TrackMove(state, 100, 50, 1003), TrackStep::Restarted);
    EXPECT_TRUE(TakeDirections(state, true).empty());
}

TEST(Tracking, AMoveOfExactlyTwentyPixelsIsNotCounted)
{
    TrackingState state;
    TrackMove(state, 100, 100, 50);
    EXPECT_EQ(TrackMove(state, 120, 80, 51), TrackStep::Unchanged);
    EXPECT_EQ(state.l2r, 1);
    EXPECT_EQ(state.b2t, 1);
    EXPECT_EQ(state.lastTime, 50);  // neither time nor centre move
    EXPECT_EQ(state.lastX, 100);
    EXPECT_EQ(TrackMove(state, 121, 100, 52), TrackStep::Counted);
    EXPECT_EQ(state.l2r, 2);
    EXPECT_EQ(state.r2l, 0);
}

TEST(Tracking, MoreThanTwoSecondsRestarts)
{
    TrackingState state;
    TrackMove(state, 10, 10, 100);
    EXPECT_EQ(TrackMove(state, 50, 10, 102), TrackStep::Counted);  // 2 s still counts
    EXPECT_EQ(TrackMove(state, 90, 10, 105), TrackStep::Restarted);
    EXPECT_EQ(state.l2r, 1);
    EXPECT_EQ(state.lastX, 90);
}

TEST(Tracking, VerticalEventsFollowTheRowOrder)
{
    TrackingState state;
    TrackMove(state, 50, 200, 10);
    TrackMove(state, 50, 170, 11);
    TrackMove(state, 50, 140, 12);
    TrackingState bottomUp = state;
    EXPECT_EQ(TakeDirections(state, true), (std::vector<EventKind>{EventKind::BOTTOM_TO_TOP}));
    EXPECT_EQ(state.lastTime, 0);
    EXPECT_EQ(TakeDirections(bottomUp, false), (std::vector<EventKind>{EventKind::TOP_TO_BOTTOM}));
}

TEST(Tracking, DiagonalDriftFiresBothDirections)
{
    TrackingState state;
    TrackMove(state, 200, 10, 10);
    TrackMove(state, 170, 40, 11);
    TrackMove(state, 140, 70, 12);
    EXPECT_EQ(state.r2l, 3);
    EXPECT_EQ(state.l2r, 0);
    EXPECT_EQ(TakeDirections(state, true),
              (std::vector<EventKind>{EventKind::RIGHT_TO_LEFT, EventKind::TOP_TO_BOTTOM}));
}

}  // namespace
}  // namespace vorlix

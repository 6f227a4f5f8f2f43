// The life of a creation run's slot as SlotMayMove allows it: a slot can always come back to
// free, and the buffers of an icon are never taken for another one before the run had them.
#include <gtest/gtest.h>

#include <array>
#include <utility>
#include <vector>

#include "library/run/create/slot_state.h"

namespace zemlo {
namespace {

constexpr std::array<SlotState, kSlotStates> kAllSlotStates = {
    SlotState::kFree,  SlotState::kPreparing, SlotState::kAwaitingTurn, SlotState::kPacking,
    SlotState::kReady, SlotState::kTaken,     SlotState::kReleased};

// The states reachable from `from` in allowed moves, never passing through `avoid`.
std::array<bool, kSlotStates> ReachableSlotStates(SlotState from,
                                                  std::vector<SlotState> avoid = {}) {
  std::array<bool, kSlotStates> seen{};
  std::vector<SlotState> open = {from};
  seen[static_cast<int>(from)] = true;
  while (!open.empty()) {
    const SlotState at = open.back();
    open.pop_back();
    for (const SlotState to : kAllSlotStates) {
      bool avoided = false;
      for (const SlotState a : avoid) avoided = avoided || a == to;
      if (avoided || seen[static_cast<int>(to)] || !SlotMayMove(at, to)) continue;
      seen[static_cast<int>(to)] = true;
      open.push_back(to);
    }
  }
  return seen;
}

bool SlotReaches(SlotState from, SlotState to, std::vector<SlotState> avoid = {}) {
  return ReachableSlotStates(from, std::move(avoid))[static_cast<int>(to)];
}

TEST(SlotLife, EveryStateIsUsedAndLeadsBackToFree) {
  const auto from_free = ReachableSlotStates(SlotState::kFree);
  for (const SlotState state : kAllSlotStates) {
    SCOPED_TRACE(static_cast<int>(state));
    EXPECT_TRUE(from_free[static_cast<int>(state)]);
    // No state a slot can be left in for good: its buffers would be lost to the helper.
    bool moves = false;
    for (const SlotState to : kAllSlotStates) moves = moves || SlotMayMove(state, to);
    EXPECT_TRUE(moves);
    EXPECT_TRUE(SlotReaches(state, SlotState::kFree));
  }
}

TEST(SlotLife, NoStateStaysWhereItIs) {
  // A move to the same state would hide a second hand-over of the same slot.
  for (const SlotState state : kAllSlotStates) EXPECT_FALSE(SlotMayMove(state, state));
}

TEST(SlotLife, APreparedIconIsFreedOnlyAfterTheRunHadItAndLetItGo) {
  // Whatever way the preparation goes, the buffers wait for the run: without taking, or
  // without releasing, the slot never comes back to free.
  EXPECT_FALSE(SlotReaches(SlotState::kPreparing, SlotState::kFree, {SlotState::kTaken}));
  EXPECT_FALSE(SlotReaches(SlotState::kPreparing, SlotState::kFree, {SlotState::kReleased}));
  // The run takes only complete icons.
  EXPECT_FALSE(SlotReaches(SlotState::kFree, SlotState::kTaken, {SlotState::kReady}));
}

TEST(SlotLife, AnIconIsReadyOnlyOnceItsTurnCame) {
  // Either composed in its turn (then packed) or handed on when the icon before ended.
  EXPECT_FALSE(SlotReaches(SlotState::kPreparing, SlotState::kReady,
                           {SlotState::kAwaitingTurn, SlotState::kPacking}));
  EXPECT_TRUE(SlotReaches(SlotState::kPreparing, SlotState::kReady, {SlotState::kPacking}));
  EXPECT_TRUE(SlotReaches(SlotState::kPreparing, SlotState::kReady, {SlotState::kAwaitingTurn}));
}

}  // namespace
}  // namespace zemlo

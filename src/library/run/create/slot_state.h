// Where a creation run's slot (the buffers one icon is prepared in) stands: who may touch it,
// and what it waits for. The pipeline moves a slot only as SlotMayMove allows.
#pragma once

#include <cstdint>

namespace zemlo {

enum class SlotState : std::uint8_t {
  // Holds nothing anyone needs: its helper may take it for the next icon.
  kFree,
  // Its helper chooses and loads the icon's source, and waits for the icon's turn or (for an
  // icon that owes nothing to the ones before it) composes and packs it at once.
  kPreparing,
  // Prepared but for its turn: whoever composes the icon before hands it on.
  kAwaitingTurn,
  // Composed in its turn; its helper packs the entry.
  kPacking,
  // Complete: the run may take it.
  kReady,
  // In the run's hands, with its picture while the run holds that as the working picture.
  kTaken,
  // The run is done with it; its picture may still be the working picture, or the one the next
  // icon is composed over.
  kReleased,
};

inline constexpr int kSlotStates = 7;

// Whether a slot in `from` may move to `to`.
constexpr bool SlotMayMove(SlotState from, SlotState to) {
  switch (from) {
    case SlotState::kFree:
      return to == SlotState::kPreparing;
    case SlotState::kPreparing:
      return to == SlotState::kAwaitingTurn || to == SlotState::kPacking;
    case SlotState::kAwaitingTurn:
    case SlotState::kPacking:
      return to == SlotState::kReady;
    case SlotState::kReady:
      return to == SlotState::kTaken;
    case SlotState::kTaken:
      return to == SlotState::kReleased;
    case SlotState::kReleased:
      return to == SlotState::kFree;
  }
  return false;
}

}  // namespace zemlo

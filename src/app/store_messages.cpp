#include "app/store_messages.h"

#include <algorithm>
#include <limits>

#include "core/status.h"

namespace zemlo {
namespace {

void Named(StatusPort& port, TextFormat format, const StoreProblem& problem) {
  ShowWarning(port, Owner::kMain, format, problem.name);
}

// The numbers are icons, blocks or BLKB: shown as the int the format takes, held at its ends.
void Numbered(StatusPort& port, NumberFormat format, const StoreProblem& problem) {
  const auto shown = static_cast<int>(std::clamp<std::int64_t>(
      problem.number, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
  ShowWarningNumber(port, Owner::kMain, format, shown);
}

}  // namespace

void ShowStoreProblem(StatusPort& port, const StoreProblem& problem) {
  switch (problem.kind) {
    case StoreProblemKind::kStopped:
      return;
    case StoreProblemKind::kBadBlockSize:
      return Numbered(port, kBadBlockSizeFormat, problem);
    case StoreProblemKind::kBlockNotNamed:
      return Numbered(port, kBlockNotNamedFormat, problem);
    case StoreProblemKind::kOutOfOrder:
      return Numbered(port, kOutOfOrderFormat, problem);
    case StoreProblemKind::kTempBlockLeftOver:
      return Named(port, kTempBlockLeftOverFormat, problem);
    case StoreProblemKind::kOffsetsNotRead:
      return Named(port, kOffsetsNotReadFormat, problem);
    case StoreProblemKind::kRecordNotWritten:
      return Named(port, kRecordNotWrittenFormat, problem);
    case StoreProblemKind::kBlockNotMoved:
      return Named(port, kBlockNotMovedFormat, problem);
    case StoreProblemKind::kTempNotCreated:
      return Named(port, kTempNotCreatedFormat, problem);
    case StoreProblemKind::kBlockNotCreated:
      return Named(port, kBlockNotCreatedFormat, problem);
    case StoreProblemKind::kBlockNotWritten:
      return Named(port, kBlockNotWrittenFormat, problem);
    case StoreProblemKind::kTempNotRead:
      return Named(port, kTempNotReadFormat, problem);
    case StoreProblemKind::kOffsetsNotWritten:
      return Named(port, kOffsetsNotWrittenFormat, problem);
    case StoreProblemKind::kBlockTooLong:
      return Named(port, kBlockTooLongFormat, problem);
    case StoreProblemKind::kTempNotRemoved:
      return Named(port, kBlockTempNotRemovedFormat, problem);
    case StoreProblemKind::kBlockShort:
      return Named(port, kBlockShortFormat, problem);
  }
}

}  // namespace zemlo

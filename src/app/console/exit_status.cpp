#include "app/console/exit_status.h"

#include "app/console/console_platform.h"
#include "app/console/console_port.h"

namespace zemlo::console {

int StoppedStatus() {
  switch (FirstStopRequest()) {
    case StopCause::kNone:
      return kExitOk;
    case StopCause::kInterrupt:
      return kExitInterrupt;
    case StopCause::kTerminate:
      return kExitTerminate;
    case StopCause::kHangUp:
      return kExitHangUp;
  }
  return kExitInterrupt;
}

int Outcome(const ConsolePort& port) {
  if (Interrupted()) return StoppedStatus();
  return port.warnings() > 0 ? kExitWarned : kExitOk;
}

}  // namespace zemlo::console

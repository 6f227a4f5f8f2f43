#include "library/run/jobs.h"

#include <algorithm>
#include <thread>

namespace zemlo {

int DefaultJobs() {
  return std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, kMaxJobs);
}

}  // namespace zemlo

#include "files/file_seam.h"

#include <atomic>

namespace zemlo::files {
namespace {

std::atomic<FileObserver*> g_observer{nullptr};

}  // namespace

void SetFileObserver(FileObserver* observer) {
  g_observer.store(observer, std::memory_order_release);
}

namespace seam {

bool Allow(FileOp op, const std::string& path, std::FILE* stream) {
  FileObserver* observer = g_observer.load(std::memory_order_acquire);
  return observer == nullptr || observer->Allow(op, path, stream);
}

void Done(FileOp op, const std::string& path, const std::string& to, std::FILE* stream) {
  FileObserver* observer = g_observer.load(std::memory_order_acquire);
  if (observer != nullptr) observer->Done(op, path, to, stream);
}

}  // namespace seam
}  // namespace zemlo::files

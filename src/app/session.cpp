#include "app/session.h"

#include <system_error>
#include <utility>

#include "app/store_messages.h"
#include "library/run/jobs.h"
#include "library/store/block_store.h"
#include "library/store/library_lock.h"

namespace zemlo {

Session::Session(StatusPort& port)
    : state_(port),
      store_(std::make_unique<StoreContext>(
          StoreContext{settings_, state_, {}, false, DefaultJobs()})),
      library_lock_(std::make_unique<LibraryLock>()) {
  // The store's problems in the words the window has always used, when they happen.
  store_->tell = [this](const StoreProblem& problem) { ShowStoreProblem(state_.port, problem); };
}

Session::~Session() {
  // The worker borrows the buffers this object owns: it must be gone before they are.
  RequestStop();
  if (worker_.joinable()) worker_.join();
}

bool Session::StartWorker(std::function<void(Session&)> body) {
  if (WorkerRunning()) return false;
  if (worker_.joinable()) worker_.join();
  worker_running_.store(true, std::memory_order_release);
  try {
    worker_ = std::thread([this, body = std::move(body)] {
      body(*this);
      worker_running_.store(false, std::memory_order_release);
    });
  } catch (const std::system_error&) {
    worker_running_.store(false, std::memory_order_release);
    return false;
  }
  return true;
}

void Session::WaitForWorker() {
  if (worker_.joinable()) worker_.join();
}

}  // namespace zemlo

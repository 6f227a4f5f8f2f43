// One user's session with the creator: the shared buffers and state, the project settings, the
// library store's rewrite state and the one worker thread. The main window and the console
// program each own one Session; the commands borrow it.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "core/status_port.h"
#include "core/working_state.h"
#include "library/run/run_tally.h"
#include "project/project_settings.h"

namespace zemlo {

struct StoreContext;
class LibraryLock;

class Session {
 public:
  // `port` must outlive the session: a worker still running when the session goes away
  // reports its end through it.
  explicit Session(StatusPort& port);
  // Requests stop and joins the worker, so a run still in progress finishes the icon in
  // hand, writes its files and ends before the buffers are freed.
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  WorkingState& state() { return state_; }
  const WorkingState& state() const { return state_; }
  ProjectSettings& settings() { return settings_; }
  const ProjectSettings& settings() const { return settings_; }
  // The library store's view of this session (settings, state and the rewrite state).
  StoreContext& store() { return *store_; }
  // The lock on the library of the project loaded last: taken when a command loads the
  // project and given up when the command, or the run it started, ends.
  LibraryLock& library_lock() { return *library_lock_; }
  // What the last creation run or integrity check counted; read it once the worker ended.
  RunTally& tally() { return tally_; }

  // Starts `body` on the worker thread. Refused (false) while a worker is still running; a
  // worker that has ended is joined first.
  bool StartWorker(std::function<void(Session&)> body);
  // True from StartWorker until the worker's body has returned.
  bool WorkerRunning() const { return worker_running_.load(std::memory_order_acquire); }
  // Waits for the worker to end (no stop request); nothing happens when none was started.
  void WaitForWorker();
  // "Stop": the running worker finishes the icon in hand and then ends.
  void RequestStop() { state_.stop_request.store(true); }

 private:
  WorkingState state_;
  ProjectSettings settings_;
  std::unique_ptr<StoreContext> store_;
  std::unique_ptr<LibraryLock> library_lock_;
  RunTally tally_;
  std::thread worker_;
  std::atomic<bool> worker_running_{false};
};

}  // namespace zemlo

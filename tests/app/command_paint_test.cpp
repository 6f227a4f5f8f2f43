// Painting from the window's thread while the creation run works on its own: the worker's
// repaint requests wait until the picture is drawn, as the platform's update call does, and
// the crop box may be read at any moment. Run under ThreadSanitizer, this shows that neither
// the picture nor the crop box is read while the worker changes it.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>
#include <tuple>

#include "app/commands.h"
#include "app/session.h"
#include "support/run_project.h"

namespace zemlo::testing {
namespace {

using BoxKey = std::tuple<int, int, int, int>;
BoxKey Key(const CropBox& box) { return {box.top, box.bottom, box.left, box.right}; }

// Repaint hands the request to a painter thread and returns once it has painted.
class PainterPort : public RecordingPort {
 public:
  explicit PainterPort(const WorkingState*& state) : state_(state) {
    painter_ = std::thread([this] { PaintLoop(); });
  }
  ~PainterPort() override {
    {
      std::lock_guard lock(mutex_);
      quit_ = true;
    }
    wake_.notify_all();
    painter_.join();
  }

  void Repaint(bool erase) override {
    std::unique_lock lock(mutex_);
    ++requested_;
    wake_.notify_all();
    wake_.wait(lock, [this] { return painted_ == requested_; });
  }

  std::set<BoxKey> painted_boxes;  // read after the run
  long lit_pixels = 0;

 private:
  void PaintLoop() {
    std::unique_lock lock(mutex_);
    while (true) {
      wake_.wait(lock, [this] { return quit_ || painted_ < requested_; });
      if (painted_ < requested_) {
        const WorkingState& state = *state_;
        const CropBox box = state.crop_box.load();
        painted_boxes.insert(Key(box));
        const auto picture = const_cast<WorkingState&>(state).Picture();
        for (int y = box.top; y <= box.bottom && y < kPictureHeight; ++y) {
          for (int x = box.left; x <= box.right && x < kPictureWidth; ++x) {
            lit_pixels += picture[std::size_t(y) * kRowBytes + std::size_t(x) * 3] != 0;
          }
        }
        painted_ = requested_;
        wake_.notify_all();
      }
      if (quit_) return;
    }
  }

  const WorkingState*& state_;
  std::mutex mutex_;
  std::condition_variable wake_;
  long requested_ = 0;
  long painted_ = 0;
  bool quit_ = false;
  std::thread painter_;
};

TEST(CommandRun, PaintingDuringARunSeesWholeCropBoxesAndFinishedPictures) {
  TestLibrary lib({.dvie = 1});
  for (int icon = 3000; icon < 3040; ++icon) {
    lib.AddPcx(icon, icon % 2 == 0 ? UnmaskedShape(icon) : XMaskedShape(icon));
  }
  const WorkingState* state = nullptr;
  PainterPort port(state);
  Session session(port);
  state = &session.state();

  // A second reader polls the crop box without any hand-over, as a paint caused by the user
  // would: every box it sees must be one the run really produced.
  std::atomic<bool> done{false};
  std::set<BoxKey> polled;
  std::thread poller([&] {
    while (!done.load()) polled.insert(Key(session.state().crop_box.load()));
  });
  ASSERT_TRUE(StartCreateZgl(session, "project.zgl", "project.zgl"));
  session.WaitForWorker();
  done = true;
  poller.join();

  // Two shapes, two boxes; each painted picture showed the shape inside its box.
  EXPECT_EQ(port.painted_boxes.size(), 2u);
  EXPECT_GT(port.lit_pixels, 0);
  std::set<BoxKey> allowed = port.painted_boxes;
  allowed.insert(Key(CropBox{}));  // before the first icon
  for (const BoxKey& box : polled) EXPECT_TRUE(allowed.count(box)) << std::get<0>(box);
}

}  // namespace
}  // namespace zemlo::testing

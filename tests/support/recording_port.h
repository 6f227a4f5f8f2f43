// A status port that records every call, for tests that check what the user is shown.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "core/status_port.h"

namespace zemlo::testing {

struct RecordedMessage {
  Owner owner;
  std::string caption;
  std::string text;
  MessageIcon icon;
};

struct RecordedRepaint {
  bool erase;
};

class RecordingPort : public StatusPort {
 public:
  void SetTitle(std::string_view text) override {
    {
      std::lock_guard lock(mutex_);
      titles.emplace_back(text);
      events.push_back("title: " + std::string(text));
    }
    if (on_title) on_title(text);
  }
  int ShowMessage(Owner owner, std::string_view caption, std::string_view text,
                  MessageIcon icon) override {
    std::lock_guard lock(mutex_);
    messages.push_back({owner, std::string(caption), std::string(text), icon});
    events.push_back("message: " + std::string(caption) + ": " + std::string(text));
    return 1;
  }
  void Repaint(bool erase) override {
    std::lock_guard lock(mutex_);
    repaints.push_back({erase});
    events.push_back(erase ? "repaint: erase" : "repaint");
  }
  void RunStarted() override {
    std::lock_guard lock(mutex_);
    ++runs_started;
    events.push_back("run started");
  }
  void RunEnded() override {
    std::lock_guard lock(mutex_);
    ++runs_ended;
    events.push_back("run ended");
  }
  void Explain(std::string_view subject, std::string_view reason) override {
    std::lock_guard lock(mutex_);
    explanations.push_back(std::string(subject) + ": " + std::string(reason));
    events.push_back("explain: " + explanations.back());
  }
  void SetProgress(int position) override {
    std::lock_guard lock(mutex_);
    progress.push_back(position);
  }
  bool ShowsPicture() const override { return shows_picture; }

  // Texts of the message boxes only, in order.
  std::vector<std::string> MessageTexts() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (const auto& m : messages) out.push_back(m.text);
    return out;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    titles.clear();
    messages.clear();
    repaints.clear();
    progress.clear();
    explanations.clear();
    events.clear();
    runs_started = 0;
    runs_ended = 0;
  }

  // Called with every title after it is recorded, on the thread that set it.
  std::function<void(std::string_view)> on_title;
  // Whether the front end paints the working picture (a window), as runs and exports ask.
  bool shows_picture = true;

  std::vector<std::string> titles;
  std::vector<RecordedMessage> messages;
  std::vector<RecordedRepaint> repaints;
  std::vector<int> progress;
  std::vector<std::string> explanations;  // "subject: reason"
  std::vector<std::string> events;
  int runs_started = 0;
  int runs_ended = 0;

 private:
  mutable std::mutex mutex_;
};

}  // namespace zemlo::testing

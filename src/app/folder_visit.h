// A while in another folder: the folder that was current when the visit began is current
// again when it ends, however the scope that holds it is left.
#pragma once

#include <string>

#include "files/file_layer.h"

namespace zemlo {

class FolderVisit {
 public:
  FolderVisit() : home_(files::CurrentDirectory()) {}
  ~FolderVisit() { Leave(); }
  FolderVisit(const FolderVisit&) = delete;
  FolderVisit& operator=(const FolderVisit&) = delete;

  // The folder the visit goes back to.
  const std::string& home() const { return home_; }

  // Makes `folder` the current one; false when it cannot be entered. The visit goes back home
  // at its end either way, since a failed change may still have left home.
  bool Enter(const std::string& folder) {
    away_ = true;
    return files::ChangeDirectory(folder.c_str()).ok();
  }

  // Goes back home now, if the visit went anywhere; once.
  void Leave() {
    if (!away_) return;
    away_ = false;
    // Home was the current folder a moment ago; whatever went wrong was said already.
    (void)files::ChangeDirectory(home_.c_str());
  }

 private:
  std::string home_;
  bool away_ = false;
};

}  // namespace zemlo

// An owning handle for a stream opened through the file layer: closed on every path out.
#pragma once

#include <cstdio>
#include <memory>

#include "files/file_layer.h"

namespace zemlo {

struct FileCloser {
  void operator()(std::FILE* f) const {
    // The handle closes streams that were only read, or whose writing already failed; a
    // stream whose written bytes matter is released and closed with CloseFile, which is checked.
    if (f != nullptr) (void)files::CloseFile(f);
  }
};
using FileStream = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace zemlo

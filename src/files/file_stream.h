// An owning handle for a stream opened through the file layer: closed on every path out.
#pragma once

#include <cstdio>
#include <memory>

#include "files/file_layer.h"

namespace zemlo {

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f != nullptr) files::CloseFile(f);
  }
};
using FileStream = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace zemlo

// The seam between the file layer and the platform: every call of the layer that changes the
// disk, or reads a file's bytes, is shown to an observer first, which may make it fail as the
// platform would; what succeeded is reported after. Nothing is installed in the programs, and
// then each call costs one atomic load. Tests install an observer to fail the k-th write,
// read, rename, remove or flush, or to model what a power cut keeps of the calls made so far.
#pragma once

#include <cstdio>
#include <string>

namespace zemlo::files {

enum class FileOp {
  kOpen,         // a file opened; path, and `to` holds the fopen mode
  kRead,         // bytes read from an open stream
  kWrite,        // bytes written to an open stream
  kFlush,        // an open stream's bytes pushed to the disk
  kFlushFile,    // a named file's bytes pushed to the disk
  kClose,        // an open stream closed
  kRename,       // path moved to `to`, never over an existing file
  kReplace,      // path moved over `to`, replacing it
  kRemove,       // path removed
  kFolderFlush,  // the entries of path's folder pushed to the disk
  kMakeFolder,   // path made as a folder
  kSetNormal,    // path's archive attribute cleared
};

class FileObserver {
 public:
  virtual ~FileObserver() = default;
  // Before the call: false makes it fail, as the platform's call fails, without touching
  // anything. `stream` is the open stream for the stream calls, else nullptr. Called from
  // every thread that uses the file layer.
  virtual bool Allow(FileOp op, const std::string& path, std::FILE* stream) = 0;
  // After the call succeeded.
  virtual void Done(FileOp op, const std::string& path, const std::string& to,
                    std::FILE* stream) = 0;
};

// Installs `observer` for every later call (nullptr: none); the caller keeps it alive until
// it is replaced.
void SetFileObserver(FileObserver* observer);

namespace seam {
// Called by both halves of the file layer around the platform's calls.
bool Allow(FileOp op, const std::string& path, std::FILE* stream = nullptr);
void Done(FileOp op, const std::string& path, const std::string& to = {},
          std::FILE* stream = nullptr);
}  // namespace seam

}  // namespace zemlo::files

// The lock that keeps two runs off one library: exclusive within the process as between
// processes, readable while held, given up with its holder, and taken only on a regular file,
// never through a link.
#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "files/file_layer.h"
#include "support/temp_dir.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace zemlo::files {
namespace {

namespace fs = std::filesystem;
using zemlo::testing::ReadFileBytes;
using zemlo::testing::TempDir;
using zemlo::testing::WriteFileBytes;

TEST(FileLock, OneHolderAtATimeWhoseWordsOthersCanRead) {
  TempDir dir;
  const std::string name = dir / "lib.ofs.lock";
  FileLock first;
  ASSERT_EQ(first.Lock(name.c_str()), FileLock::Result::kLocked);
  EXPECT_TRUE(first.locked());
  ASSERT_TRUE(first.WriteContent("4242\n"));
  {
    // A second lock, even in the same process, waits for nobody: it is refused at once.
    FileLock second;
    EXPECT_EQ(second.Lock(name.c_str()), FileLock::Result::kBusy);
    EXPECT_FALSE(second.locked());
  }
  // The content stays readable and is replaced whole.
  const auto words = ReadFileBytes(name);
  EXPECT_EQ(std::string(words.begin(), words.end()), "4242\n");
  ASSERT_TRUE(first.WriteContent("7\n"));
  const auto shorter = ReadFileBytes(name);
  EXPECT_EQ(std::string(shorter.begin(), shorter.end()), "7\n");

  first.Unlock();
  EXPECT_FALSE(first.WriteContent("x"));
  {
    FileLock third;
    EXPECT_EQ(third.Lock(name.c_str()), FileLock::Result::kLocked);
  }  // given up with the object
  FileLock fourth;
  EXPECT_EQ(fourth.Lock(name.c_str()), FileLock::Result::kLocked);
  // Locking again gives up the lock held before; the file may be locked anew.
  EXPECT_EQ(fourth.Lock(name.c_str()), FileLock::Result::kLocked);
}

TEST(FileLock, AFileThatCannotBeMadeCannotBeLocked) {
  TempDir dir;
  FileLock lock;
  EXPECT_EQ(lock.Lock((dir / "no folder/lib.lock").c_str()), FileLock::Result::kUnavailable);
  EXPECT_EQ(lock.refusal(), FileLock::Refusal::kCannotOpen);
  EXPECT_FALSE(lock.system_reason().empty());  // the system says the folder is missing
  EXPECT_EQ(lock.Lock(""), FileLock::Result::kUnavailable);
  EXPECT_EQ(lock.refusal(), FileLock::Refusal::kCannotOpen);
  EXPECT_FALSE(lock.locked());
  EXPECT_NE(ProcessId(), 0u);
}

TEST(FileLock, OnlyARegularFileIsLockedAndAnythingElseIsLeftAsItWas) {
  TempDir dir;
  FileLock lock;
  // A folder at the name: neither opened as a file nor removed.
  fs::create_directory(dir.path() / "folder.lock");
  EXPECT_EQ(lock.Lock((dir / "folder.lock").c_str()), FileLock::Result::kUnavailable);
  EXPECT_EQ(lock.refusal(), FileLock::Refusal::kNotRegularFile);
  EXPECT_TRUE(fs::is_directory(dir.path() / "folder.lock"));
#if !defined(_WIN32)
  // A FIFO: refused at once, never waited on for a writer.
  const std::string fifo = dir / "fifo.lock";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
  EXPECT_EQ(lock.Lock(fifo.c_str()), FileLock::Result::kUnavailable);
  EXPECT_EQ(lock.refusal(), FileLock::Refusal::kNotRegularFile);
  EXPECT_TRUE(fs::is_fifo(fifo));
#endif
  EXPECT_FALSE(lock.locked());
  // A refusal is forgotten by the next lock that is taken.
  EXPECT_EQ(lock.Lock((dir / "lib.lock").c_str()), FileLock::Result::kLocked);
  EXPECT_EQ(lock.refusal(), FileLock::Refusal::kNone);
  EXPECT_TRUE(lock.system_reason().empty());
}

#if !defined(_WIN32)
// Another user's lock file that this user may not open (as root: one that the user "nobody"
// may not open, tried in a child that became nobody).
TEST(FileLock, ALockFileThisUserMayNotOpenIsRefusedWithTheSystemsReason) {
  TempDir dir;
  const std::string name = dir / "lib.ofs.lock";
  WriteFileBytes(name, {'1', '\n'});
  ASSERT_EQ(::chmod(name.c_str(), 0600), 0);
  ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
  const bool root = ::geteuid() == 0;
  if (!root) {
    ASSERT_EQ(::chmod(name.c_str(), 0), 0);
  }
  const pid_t child = root ? ::fork() : 0;
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (root && ::setuid(65534) != 0) ::_exit(3);
    FileLock lock;
    const bool refused = lock.Lock(name.c_str()) == FileLock::Result::kUnavailable &&
                         lock.refusal() == FileLock::Refusal::kCannotOpen &&
                         lock.system_reason() == std::strerror(EACCES);
    if (root) ::_exit(refused ? 0 : 1);
    EXPECT_TRUE(refused) << lock.system_reason();
  } else {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
  ::chmod(name.c_str(), 0600);
  EXPECT_EQ(ReadFileBytes(name), (std::vector<std::uint8_t>{'1', '\n'}));
}
#endif

// A link planted at the lock's name would have the holder empty and write a file anywhere,
// or create one where a dangling link points.
TEST(FileLock, ALinkAtTheNameIsNeverFollowed) {
  TempDir dir;
  TempDir outside;
  const fs::path thesis = outside.path() / "thesis.txt";
  WriteFileBytes(thesis, {'m', 'i', 'n', 'e'});
  std::error_code error;
  fs::create_symlink(thesis, dir.path() / "to_file.lock", error);
  if (error) GTEST_SKIP() << "no symbolic links here: " << error.message();
  fs::create_symlink(outside.path() / "new.txt", dir.path() / "dangling.lock");
  fs::create_symlink(outside.path() / "no folder" / "new.txt", dir.path() / "into_nothing.lock");
  fs::create_directory_symlink(outside.path(), dir.path() / "to_folder.lock");

  for (const char* name :
       {"to_file.lock", "dangling.lock", "into_nothing.lock", "to_folder.lock"}) {
    FileLock lock;
    EXPECT_EQ(lock.Lock((dir / name).c_str()), FileLock::Result::kUnavailable) << name;
    EXPECT_EQ(lock.refusal(), FileLock::Refusal::kSymbolicLink) << name;
    EXPECT_FALSE(lock.locked()) << name;
    EXPECT_FALSE(lock.WriteContent("1234\n")) << name;
    EXPECT_TRUE(fs::is_symlink(dir.path() / name)) << name;
  }
  EXPECT_EQ(ReadFileBytes(thesis), (std::vector<std::uint8_t>{'m', 'i', 'n', 'e'}));
  EXPECT_FALSE(fs::exists(outside.path() / "new.txt"));
  EXPECT_FALSE(fs::exists(outside.path() / "no folder"));
  // The only entries outside are the ones the test made.
  EXPECT_EQ(std::distance(fs::directory_iterator(outside.path()), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace zemlo::files

// The lock that keeps two runs off one library: exclusive within the process as between
// processes, readable while held, and given up with its holder.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "files/file_layer.h"
#include "support/temp_dir.h"

namespace zemlo::files {
namespace {

using zemlo::testing::ReadFileBytes;
using zemlo::testing::TempDir;

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
  EXPECT_EQ(lock.Lock(""), FileLock::Result::kUnavailable);
  EXPECT_FALSE(lock.locked());
  EXPECT_NE(ProcessId(), 0u);
}

}  // namespace
}  // namespace zemlo::files

// Only regular files are opened, for reading and for writing: a folder, a FIFO or a device
// at a name the project gives is refused at once, never waited on and never read from.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <future>
#include <string>

#include "files/file_layer.h"
#include "support/temp_dir.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#endif

namespace zemlo::files {
namespace {

namespace fs = std::filesystem;
using zemlo::testing::ReadFileBytes;
using zemlo::testing::ScopedCurrentDir;
using zemlo::testing::TempDir;
using zemlo::testing::WriteFileBytes;

class FileKinds : public ::testing::Test {
 protected:
  TempDir dir;
  ScopedCurrentDir cwd{dir.path()};
};

// Opens `name` on another thread, so a test that would block fails instead of hanging.
bool OpensWithin(const std::string& name, const char* mode) {
  auto opened = std::async(std::launch::async, [name, mode] {
    std::FILE* f = OpenFile(name.c_str(), mode).value_or(nullptr);
    if (f != nullptr) std::fclose(f);
    return f != nullptr;
  });
  if (opened.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    ADD_FAILURE() << "opening " << name << " with " << mode << " blocked";
    std::abort();  // the blocked thread could never be joined
  }
  return opened.get();
}

TEST_F(FileKinds, RegularFilesOpenForEveryMode) {
  WriteFileBytes(dir.path() / "entry.zgi", {1, 2, 3});
  EXPECT_TRUE(OpensWithin("entry.zgi", "rb"));
  EXPECT_TRUE(OpensWithin("entry.zgi", "r+b"));
  // Appending keeps the bytes; writing truncates; a new name is created.
  std::FILE* f = OpenFile("entry.zgi", "ab").value_or(nullptr);
  ASSERT_NE(f, nullptr);
  std::fputc(4, f);
  std::fclose(f);
  EXPECT_EQ(ReadFileBytes(dir.path() / "entry.zgi"), (std::vector<std::uint8_t>{1, 2, 3, 4}));
  EXPECT_TRUE(OpensWithin("entry.zgi", "wb"));
  EXPECT_EQ(fs::file_size(dir.path() / "entry.zgi"), 0u);
  EXPECT_TRUE(OpensWithin("new.zgi", "wb"));
  EXPECT_TRUE(fs::is_regular_file(dir.path() / "new.zgi"));
  EXPECT_FALSE(OpensWithin("missing.zgi", "rb"));
}

TEST_F(FileKinds, FoldersAreNeitherReadNorWritten) {
  fs::create_directories(dir.path() / "p3_0_0_0.pcx");
  EXPECT_FALSE(OpensWithin("p3_0_0_0.pcx", "rb"));
  EXPECT_FALSE(OpensWithin("p3_0_0_0.pcx", "wb"));
  EXPECT_FALSE(OpensWithin("P3_0_0_0.PCX", "rb"));  // matched through letter case too
  EXPECT_TRUE(fs::is_directory(dir.path() / "p3_0_0_0.pcx"));
}

TEST_F(FileKinds, SymbolicLinksAreToldFromWhatTheyName) {
  WriteFileBytes(dir.path() / "lib.ofs", {1});
  fs::create_directories(dir.path() / "blk");
  std::error_code no_links;
  fs::create_symlink(dir.path() / "lib.ofs", dir.path() / "link.ofs", no_links);
  if (no_links) GTEST_SKIP() << "no symbolic links here";
  fs::create_symlink(dir.path() / "missing", dir.path() / "nowhere");
  fs::create_directory_symlink(dir.path() / "blk", dir.path() / "blklink");
  EXPECT_TRUE(IsSymbolicLink("link.ofs"));
  EXPECT_TRUE(IsSymbolicLink("nowhere"));  // pointing at nothing
  EXPECT_TRUE(IsSymbolicLink("blklink"));
  EXPECT_FALSE(IsSymbolicLink("lib.ofs"));
  EXPECT_FALSE(IsSymbolicLink("blk"));
  EXPECT_FALSE(IsSymbolicLink("missing"));
  EXPECT_FALSE(IsSymbolicLink(""));
#if !defined(_WIN32)
  // Found the way every other call finds names from a project file.
  EXPECT_TRUE(IsSymbolicLink("LINK.OFS"));
  EXPECT_TRUE(IsSymbolicLink(".\\Link.ofs"));
#endif
}

#if defined(_WIN32)
TEST_F(FileKinds, DevicesAreNeitherReadNorWritten) {
  // Device names stand everywhere, with any extension.
  EXPECT_FALSE(OpensWithin("NUL", "rb"));
  EXPECT_FALSE(OpensWithin("nul.pcx", "rb"));
  EXPECT_FALSE(OpensWithin("NUL", "wb"));
  EXPECT_FALSE(OpensWithin("CON", "rb"));
}
#else
TEST_F(FileKinds, FifosAreRefusedWithoutWaitingForAWriterOrReader) {
  ASSERT_EQ(::mkfifo((dir.path() / "p3_0_0_1.pcx").c_str(), 0600), 0);
  EXPECT_FALSE(OpensWithin("p3_0_0_1.pcx", "rb"));
  EXPECT_FALSE(OpensWithin("P3_0_0_1.PCX", "rb"));
  EXPECT_FALSE(OpensWithin("p3_0_0_1.pcx", "wb"));
  EXPECT_FALSE(OpensWithin("p3_0_0_1.pcx", "r+b"));
  EXPECT_TRUE(fs::is_fifo(dir.path() / "p3_0_0_1.pcx"));  // truncating did not replace it
}

// Opened without waiting, used as every other stream: blocking, and appending where asked.
TEST_F(FileKinds, StreamsAreLeftBlockingWithTheirMode) {
  WriteFileBytes(dir.path() / "entry.zgi", {1});
  for (const char* mode : {"rb", "r+b", "wb", "ab", "a+b"}) {
    std::FILE* f = OpenFile("ENTRY.ZGI", mode).value_or(nullptr);
    ASSERT_NE(f, nullptr) << mode;
    const int flags = ::fcntl(::fileno(f), F_GETFL);
    EXPECT_EQ(flags & O_NONBLOCK, 0) << mode;
    EXPECT_EQ((flags & O_APPEND) != 0, mode[0] == 'a') << mode;
    std::fclose(f);
  }
}

TEST_F(FileKinds, DevicesAreNeitherReadNorWritten) {
  EXPECT_FALSE(OpensWithin("/dev/null", "rb"));
  EXPECT_FALSE(OpensWithin("/dev/null", "wb"));
  EXPECT_FALSE(OpensWithin("/dev/zero", "rb"));
}
#endif

}  // namespace
}  // namespace zemlo::files

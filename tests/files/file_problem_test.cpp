// The reasons the file layer gives when it cannot open, read or write: the system's error
// codes mapped to the words a user is told, and the layer's calls giving the reason that
// fits what really stands (or does not) at the name, on both halves of the layer.
#include "files/file_problem.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "files/file_helpers.h"
#include "files/file_layer.h"
#include "support/temp_dir.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace zemlo::files {
namespace {

namespace fs = std::filesystem;
using zemlo::testing::ReadFileBytes;
using zemlo::testing::TempDir;
using zemlo::testing::WriteFileBytes;

TEST(FileProblem, ErrnoValuesNameWhatTheUserCanActOn) {
  EXPECT_EQ(ProblemOfErrno(0), FileProblem::kNone);
  EXPECT_EQ(ProblemOfErrno(ENOENT), FileProblem::kNoSuchFile);
  EXPECT_EQ(ProblemOfErrno(ENOTDIR), FileProblem::kNotAFolder);
  EXPECT_EQ(ProblemOfErrno(EACCES), FileProblem::kPermissionDenied);
  EXPECT_EQ(ProblemOfErrno(EPERM), FileProblem::kPermissionDenied);
  EXPECT_EQ(ProblemOfErrno(EISDIR), FileProblem::kIsAFolder);
  EXPECT_EQ(ProblemOfErrno(ELOOP), FileProblem::kLinkRefused);
  EXPECT_EQ(ProblemOfErrno(ENOSPC), FileProblem::kDiskFull);
  EXPECT_EQ(ProblemOfErrno(EROFS), FileProblem::kReadOnly);
  EXPECT_EQ(ProblemOfErrno(EPIPE), FileProblem::kBrokenPipe);
  EXPECT_EQ(ProblemOfErrno(ENAMETOOLONG), FileProblem::kNameTooLong);
  EXPECT_EQ(ProblemOfErrno(EMFILE), FileProblem::kTooManyOpen);
  EXPECT_EQ(ProblemOfErrno(EIO), FileProblem::kInputOutput);
  // A code nobody expects still gives words, never an empty reason.
  EXPECT_EQ(ProblemOfErrno(-12345), FileProblem::kOther);
  EXPECT_FALSE(FileProblemText(FileProblem::kOther).empty());
}

TEST(FileProblem, EveryProblemHasItsOwnWords) {
  EXPECT_TRUE(FileProblemText(FileProblem::kNone).empty());
  std::vector<std::string> seen;
  for (int p = 1; p <= static_cast<int>(FileProblem::kOther); ++p) {
    const std::string text(FileProblemText(static_cast<FileProblem>(p)));
    EXPECT_FALSE(text.empty()) << p;
    // Said after "name: ", so neither a capital nor a full stop.
    EXPECT_TRUE(text.front() < 'A' || text.front() > 'Z') << text;
    EXPECT_NE(text.back(), '.') << text;
    for (const std::string& other : seen) EXPECT_NE(text, other);
    seen.push_back(text);
  }
  EXPECT_EQ(FileProblemText(FileProblem::kNoSuchFolder), "no such folder");
  EXPECT_EQ(FileProblemText(FileProblem::kNoSuchFile), "no such file");
}

#if defined(_WIN32)
TEST(FileProblem, SystemErrorCodesTellAMissingFileFromAMissingFolder) {
  EXPECT_EQ(ProblemOfSystemError(ERROR_SUCCESS), FileProblem::kNone);
  EXPECT_EQ(ProblemOfSystemError(ERROR_FILE_NOT_FOUND), FileProblem::kNoSuchFile);
  EXPECT_EQ(ProblemOfSystemError(ERROR_PATH_NOT_FOUND), FileProblem::kNoSuchFolder);
  EXPECT_EQ(ProblemOfSystemError(ERROR_ACCESS_DENIED), FileProblem::kPermissionDenied);
  EXPECT_EQ(ProblemOfSystemError(ERROR_DISK_FULL), FileProblem::kDiskFull);
  EXPECT_EQ(ProblemOfSystemError(ERROR_HANDLE_DISK_FULL), FileProblem::kDiskFull);
  EXPECT_EQ(ProblemOfSystemError(ERROR_SHARING_VIOLATION), FileProblem::kInUse);
  EXPECT_EQ(ProblemOfSystemError(ERROR_BROKEN_PIPE), FileProblem::kBrokenPipe);
  EXPECT_EQ(ProblemOfSystemError(ERROR_WRITE_PROTECT), FileProblem::kReadOnly);
  EXPECT_EQ(ProblemOfSystemError(0xDEADu), FileProblem::kOther);
}
#endif

// What the layer's calls say, from what stands on disk: the same on both halves.
TEST(FileProblem, OpeningAndReadingSayWhichPartIsMissing) {
  TempDir dir;
  WriteFileBytes(dir.path() / "file.txt", {'x'});
  fs::create_directories(dir.path() / "folder");
  const auto reason_of_read = [](const fs::path& path) {
    std::uint8_t buffer[8];
    FileProblem problem = FileProblem::kNone;
    EXPECT_FALSE(ReadWholeFile(path.string().c_str(), buffer, sizeof buffer, &problem));
    return problem;
  };
  EXPECT_EQ(reason_of_read(dir.path() / "missing.txt"), FileProblem::kNoSuchFile);
  EXPECT_EQ(reason_of_read(dir.path() / "nofolder" / "missing.txt"), FileProblem::kNoSuchFolder);
  EXPECT_EQ(reason_of_read(dir.path() / "folder"), FileProblem::kIsAFolder);

  const auto opened = OpenFile((dir.path() / "nofolder" / "new.txt").string().c_str(), "wb");
  ASSERT_FALSE(opened);
  EXPECT_EQ(opened.error(), FileProblem::kNoSuchFolder);
  const auto folder = OpenFile((dir.path() / "folder").string().c_str(), "rb");
  ASSERT_FALSE(folder);
  EXPECT_EQ(folder.error(), FileProblem::kIsAFolder);
  // A file that opens gives its stream.
  const auto file = OpenFile((dir.path() / "file.txt").string().c_str(), "rb");
  ASSERT_TRUE(file);
  ASSERT_NE(*file, nullptr);
  EXPECT_TRUE(CloseFile(*file));
}

// The calls that change entries say why they could not: what the console prints after the
// name it could not rename, remove or make.
TEST(FileProblem, ChangingEntriesSaysWhyNot) {
  TempDir dir;
  const auto at = [&](const char* name) { return (dir.path() / name).string(); };
  WriteFileBytes(dir.path() / "a.txt", {'a'});
  WriteFileBytes(dir.path() / "b.txt", {'b'});
  fs::create_directories(dir.path() / "folder");

  const FileStatus onto_existing = RenameFile(at("a.txt").c_str(), at("b.txt").c_str());
  ASSERT_FALSE(onto_existing);
  EXPECT_EQ(onto_existing.error(), FileProblem::kExists);
  const FileStatus no_source = RenameFile(at("gone.txt").c_str(), at("c.txt").c_str());
  ASSERT_FALSE(no_source);
  EXPECT_EQ(no_source.error(), FileProblem::kNoSuchFile);
  EXPECT_EQ(ReadFileBytes(dir.path() / "b.txt"), std::vector<std::uint8_t>{'b'});

  const FileStatus replace_nothing =
      ReplaceFileAtomically(at("gone.txt").c_str(), at("b.txt").c_str());
  ASSERT_FALSE(replace_nothing);
  EXPECT_EQ(replace_nothing.error(), FileProblem::kNoSuchFile);

  const FileStatus remove_missing = RemoveFile(at("gone.txt").c_str());
  ASSERT_FALSE(remove_missing);
  EXPECT_EQ(remove_missing.error(), FileProblem::kNoSuchFile);
  const FileStatus remove_in_missing_folder = RemoveFile(at("nofolder/gone.txt").c_str());
  ASSERT_FALSE(remove_in_missing_folder);
  EXPECT_EQ(remove_in_missing_folder.error(), FileProblem::kNoSuchFolder);

  const FileStatus make_existing = MakeDirectory(at("folder").c_str());
  ASSERT_FALSE(make_existing);
  EXPECT_EQ(make_existing.error(), FileProblem::kExists);
  const FileStatus make_under_missing = MakeDirectory(at("nofolder/sub").c_str());
  ASSERT_FALSE(make_under_missing);
  EXPECT_EQ(make_under_missing.error(), FileProblem::kNoSuchFolder);

  const FileStatus into_missing = ChangeDirectory(at("nofolder").c_str());
  ASSERT_FALSE(into_missing);
  EXPECT_EQ(into_missing.error(), FileProblem::kNoSuchFolder);

  // The same calls where nothing stands in the way succeed.
  EXPECT_TRUE(RenameFile(at("a.txt").c_str(), at("c.txt").c_str()));
  EXPECT_TRUE(ReplaceFileAtomically(at("c.txt").c_str(), at("b.txt").c_str()));
  EXPECT_TRUE(RemoveFile(at("b.txt").c_str()));
  EXPECT_TRUE(MakeDirectory(at("new").c_str()));
  EXPECT_TRUE(FlushFolderOf(at("new").c_str()));
}

// Writing to a stream gives the reason the system gave: one opened for reading only
// refuses to take bytes.
TEST(FileProblem, WritingAStreamThatRefusesSaysWhy) {
  TempDir dir;
  WriteFileBytes(dir.path() / "file.txt", {'x'});
  const auto file = OpenFile((dir.path() / "file.txt").string().c_str(), "rb");
  ASSERT_TRUE(file);
  const std::uint8_t data[4096] = {};
  FileStatus written = WriteBytes(*file, data, sizeof data);
  // A buffered stream may take the bytes and fail only when they are pushed out.
  if (written) written = FlushToDisk(*file);
  const FileStatus closed = CloseFile(*file);
  ASSERT_FALSE(written.ok() && closed.ok());
  const FileProblem problem = !written ? written.error() : closed.error();
  EXPECT_NE(problem, FileProblem::kNone);
  EXPECT_FALSE(FileProblemText(problem).empty());
}

TEST(FileProblem, OutputsThatFailSayWhy) {
  TempDir dir;
  WriteFileBytes(dir.path() / "file.txt", {'x'});
  const std::uint8_t data[] = {1, 2, 3};
  const auto write = [&](const fs::path& base, const char* name, bool make_folders) {
    FileProblem problem = FileProblem::kNone;
    const OutputResult result =
        WriteOutputFile(base.string().c_str(), name, data, sizeof data, OutputMode::kCreateNew,
                        make_folders, nullptr, &problem);
    EXPECT_EQ(result, OutputResult::kFailed) << name;
    return problem;
  };
  // The base the user named is missing, or a folder of the name is.
  EXPECT_EQ(write(dir.path() / "nofolder", "out.pcx", false), FileProblem::kNoSuchFolder);
  EXPECT_EQ(write(dir.path(), "sub/out.pcx", false), FileProblem::kNoSuchFolder);
  // An absolute name is no name under the base.
  EXPECT_EQ(write(dir.path(), (dir.path() / "out.pcx").string().c_str(), false),
            FileProblem::kBadName);
  // What stands in the way is no failure and carries no problem.
  FileProblem problem = FileProblem::kNone;
  EXPECT_EQ(WriteOutputFile(dir.path().string().c_str(), "file.txt", data, sizeof data,
                            OutputMode::kCreateNew, false, nullptr, &problem),
            OutputResult::kExists);
  EXPECT_EQ(problem, FileProblem::kNone);
}

}  // namespace
}  // namespace zemlo::files

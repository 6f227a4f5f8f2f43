#include "files/file_problem.h"

#include <cerrno>

namespace zemlo::files {

std::string_view FileProblemText(FileProblem problem) {
  switch (problem) {
    case FileProblem::kNone:
      return {};
    case FileProblem::kNoSuchFile:
      return "no such file";
    case FileProblem::kNoSuchFolder:
      return "no such folder";
    case FileProblem::kNotAFolder:
      return "a part of the path is a file, not a folder";
    case FileProblem::kPermissionDenied:
      return "permission denied";
    case FileProblem::kIsAFolder:
      return "is a folder";
    case FileProblem::kNotRegularFile:
      return "not a regular file";
    case FileProblem::kLinkRefused:
      return "a link is in the way, and no link is followed";
    case FileProblem::kExists:
      return "something already stands at that name";
    case FileProblem::kDiskFull:
      return "disk full";
    case FileProblem::kTooLarge:
      return "file too large";
    case FileProblem::kReadOnly:
      return "read-only file system";
    case FileProblem::kInUse:
      return "in use by another program";
    case FileProblem::kNameTooLong:
      return "name too long";
    case FileProblem::kBadName:
      return "not a usable file name";
    case FileProblem::kTooManyOpen:
      return "too many open files";
    case FileProblem::kBrokenPipe:
      return "broken pipe";
    case FileProblem::kInputOutput:
      return "input/output error";
    case FileProblem::kOther:
      break;
  }
  return "the system refused it";
}

FileProblem ProblemOfErrno(int error) {
  switch (error) {
    case 0:
      return FileProblem::kNone;
    case ENOENT:
      return FileProblem::kNoSuchFile;
    case ENOTDIR:
      return FileProblem::kNotAFolder;
    case EACCES:
    case EPERM:
      return FileProblem::kPermissionDenied;
    case EISDIR:
      return FileProblem::kIsAFolder;
    case ELOOP:
      return FileProblem::kLinkRefused;
    case EEXIST:
      return FileProblem::kExists;
    case ENOSPC:
#if defined(EDQUOT)
    case EDQUOT:
#endif
      return FileProblem::kDiskFull;
    case EFBIG:
      return FileProblem::kTooLarge;
    case EROFS:
      return FileProblem::kReadOnly;
    case ETXTBSY:
    case EBUSY:
      return FileProblem::kInUse;
    case ENAMETOOLONG:
      return FileProblem::kNameTooLong;
    case EINVAL:
    case EILSEQ:
      return FileProblem::kBadName;
    case EMFILE:
    case ENFILE:
      return FileProblem::kTooManyOpen;
    case EPIPE:
      return FileProblem::kBrokenPipe;
    case EIO:
      return FileProblem::kInputOutput;
    case ENXIO:
    case ENODEV:
      return FileProblem::kNotRegularFile;
    default:
      return FileProblem::kOther;
  }
}

}  // namespace zemlo::files

#include "files/operator_files.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "base/fd.h"

namespace quorvik {

namespace {

FileProblem Problem(FileProblem::Kind kind, int error, const std::string& path,
                    const std::string& what) {
  return {kind, error, path + ": " + what};
}

std::string ErrorText(int error) {
  return std::strerror(error);
}

const char* FileTypeText(mode_t mode) {
  if (S_ISDIR(mode)) return "is a directory, not a file";
  if (S_ISFIFO(mode)) return "is a FIFO, not a file";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "is a device, not a file";
  if (S_ISSOCK(mode)) return "is a socket, not a file";
  return "is not a regular file";
}

bool WriteAll(int fd, std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

mode_t NewFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::optional<FileProblem> RegularFileProblem(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    const int error = errno;
    // A path through a file that is no folder names nothing either.
    return Problem(error == ENOENT || error == ENOTDIR ? FileProblem::Kind::kMissing
                                                       : FileProblem::Kind::kUnreadable,
                   error, path, ErrorText(error));
  }
  if (!S_ISREG(st.st_mode))
    return Problem(FileProblem::Kind::kNotRegular, 0, path, FileTypeText(st.st_mode));
  return std::nullopt;
}

FileRead ReadWholeFile(const std::string& path, size_t maxBytes) {
  FileRead result;
  if (auto problem = RegularFileProblem(path)) {
    result.problem = std::move(*problem);
    return result;
  }
  // Non-blocking, so that opening a FIFO returns at once to be refused.
  CFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (fd.Get() < 0) {
    const int error = errno;
    result.problem =
        // A path through a file that is no folder names nothing either.
        Problem(error == ENOENT || error == ENOTDIR ? FileProblem::Kind::kMissing
                                                    : FileProblem::Kind::kUnreadable,
                error, path, ErrorText(error));
    return result;
  }
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0) {
    result.problem = Problem(FileProblem::Kind::kUnreadable, errno, path, ErrorText(errno));
    return result;
  }
  if (!S_ISREG(st.st_mode)) {
    result.problem = Problem(FileProblem::Kind::kNotRegular, 0, path, FileTypeText(st.st_mode));
    return result;
  }
  const auto tooLarge = [&] {
    return Problem(FileProblem::Kind::kTooLarge, EFBIG, path,
                   "larger than " + std::to_string(maxBytes) + " bytes");
  };
  if (static_cast<unsigned long long>(st.st_size) > maxBytes) {
    result.problem = tooLarge();
    return result;
  }
  std::string bytes;
  bytes.resize(static_cast<size_t>(st.st_size));
  size_t done = 0;
  // The file may grow while it is read; one byte past the limit tells.
  for (;;) {
    if (done == bytes.size()) {
      if (bytes.size() > maxBytes) {
        result.problem = tooLarge();
        return result;
      }
      bytes.resize(std::min(maxBytes + 1, std::max<size_t>(bytes.size() * 2, 4096)));
    }
    const ssize_t n = ::read(fd.Get(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      result.problem = Problem(FileProblem::Kind::kUnreadable, errno, path, ErrorText(errno));
      return result;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  if (done > maxBytes) {
    result.problem = tooLarge();
    return result;
  }
  bytes.resize(done);
  result.bytes = std::move(bytes);
  return result;
}

std::string FinalLinkTarget(const std::string& path) {
  std::string current = path;
  // As many hops as the kernel follows; a loop ends here unresolved, and
  // writing to it then fails with the system's own error.
  for (int hop = 0; hop < 40; ++hop) {
    struct stat st {};
    if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    std::vector<char> target(static_cast<size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1);
    const ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
    if (n < 0 || static_cast<size_t>(n) >= target.size()) return current;
    std::string next(target.data(), static_cast<size_t>(n));
    if (next.empty()) return current;
    current = next.front() == '/' ? next : FolderOf(current) + "/" + next;
  }
  return current;
}

FileWrite WriteFileAtomically(const std::string& path, std::string_view bytes) {
  FileWrite result;
  const std::string target = FinalLinkTarget(path);
  struct stat st {};
  const bool exists = ::stat(target.c_str(), &st) == 0;
  mode_t mode = NewFileMode();
  if (exists) {
    if (!S_ISREG(st.st_mode)) {
      result.problem = Problem(FileProblem::Kind::kNotRegular, 0, path, FileTypeText(st.st_mode));
      return result;
    }
    // Checked by the mode as well: for root, access() allows every write,
    // yet a file its owner made read-only is meant to stay as it is.
    const bool noWriteBit = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
    if (noWriteBit || ::access(target.c_str(), W_OK) != 0) {
      result.problem =
          Problem(FileProblem::Kind::kReadOnly, EACCES, path, "is read-only; it is left as it is");
      return result;
    }
    mode = st.st_mode & 07777;
  } else if (errno != ENOENT) {
    result.problem = Problem(FileProblem::Kind::kNotWritten, errno, path, ErrorText(errno));
    return result;
  }

  const std::string folder = FolderOf(target);
  const size_t slash = target.find_last_of('/');
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string temp = folder + "/." + base + ".tmp-XXXXXX";
  CFd fd(::mkstemp(temp.data()));
  if (fd.Get() < 0) {
    result.problem = Problem(FileProblem::Kind::kNotWritten, errno, path,
                             "no new copy can be made in " + folder + ": " + ErrorText(errno));
    return result;
  }
  const auto fail = [&](int error, const std::string& what) {
    ::unlink(temp.c_str());
    result.problem = Problem(FileProblem::Kind::kNotWritten, error, path, what + ErrorText(error));
    return result;
  };
  if (!WriteAll(fd.Get(), bytes)) return fail(errno, "writing the new copy failed: ");
  if (::fchmod(fd.Get(), mode) != 0) return fail(errno, "setting the mode failed: ");
  // Keeps a file that root edits for a user the user's; an ordinary user
  // cannot give files away and keeps the copy as its own.
  if (exists && (st.st_uid != ::geteuid() || st.st_gid != ::getegid())) {
    [[maybe_unused]] const int ignored = ::fchown(fd.Get(), st.st_uid, st.st_gid);
  }
  if (::fsync(fd.Get()) != 0) return fail(errno, "flushing the new copy failed: ");
  if (::close(fd.Release()) != 0) return fail(errno, "closing the new copy failed: ");
  if (::rename(temp.c_str(), target.c_str()) != 0) return fail(errno, "replacing it failed: ");
  // The rename itself reaches the disk with the folder.
  CFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.Get() >= 0) ::fsync(dir.Get());
  result.ok = true;
  return result;
}

}  // namespace quorvik

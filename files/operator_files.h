#pragma once
// Files the operator owns (settings, firmware images, journal, rig files)
// are read whole or left alone, and replaced only by a complete new copy.
// A path may name anything: a FIFO would block a plain open for ever, a
// device never ends, a directory makes a stream throw. Only regular files of
// a sane size are read; the rest is reported, not guessed at.

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quorvik {

struct FileProblem {
  enum class Kind {
    kMissing,     // nothing at the path
    kUnreadable,  // exists, but opening or reading failed
    kNotRegular,  // a directory, FIFO, device or socket
    kTooLarge,    // larger than the reader accepts
    kReadOnly,    // exists and may not be written
    kNotWritten,  // the new copy could not be made or put in place
  };
  Kind kind = Kind::kUnreadable;
  int error = 0;  // errno where the system gave one
  // For people: names the file and says what is wrong with it.
  std::string message;
};

struct FileRead {
  std::optional<std::string> bytes;  // set when the whole file was read
  FileProblem problem;               // set otherwise
};

// Reads the whole regular file at `path`, at most `maxBytes` of it. Never
// blocks on a FIFO and never reads a device.
FileRead ReadWholeFile(const std::string& path, size_t maxBytes);

// Why `path` is no regular file (nothing there, a link loop, a folder, a
// FIFO, a device), told without opening it: opening a device can act on
// it. Empty for a regular file. Its messages are ReadWholeFile's.
std::optional<FileProblem> RegularFileProblem(const std::string& path);

struct FileWrite {
  bool ok = false;
  FileProblem problem;  // when not ok
  explicit operator bool() const { return ok; }
};

// Replaces the file at `path` with `bytes`: a temporary file in the target's
// folder, flushed to disk, then renamed over it, so that a crash leaves the
// old copy or the new one, never a mix. A symbolic link is followed and its
// target replaced (the link stays a link); the target keeps its mode and,
// where the system allows, its owner. A file that exists but is read-only, or
// is not a regular file, is refused and left as it is. A new file gets the
// mode a newly created file of the user's gets.
FileWrite WriteFileAtomically(const std::string& path, std::string_view bytes);

// The folder a path names a file in: "." for a bare name, "/" at the root.
std::string FolderOf(const std::string& path);

// Where a path's symbolic links lead, however many; the path itself when it
// is no link. A link to a file that does not exist yet leads to that name.
std::string FinalLinkTarget(const std::string& path);

}  // namespace quorvik

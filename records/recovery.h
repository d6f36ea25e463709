#pragma once
// Updates that never ended: a device whose last journal line is the start
// of an update (the program was killed, the battery died, the cable was
// pulled) and that answers a search. In its loader it holds half an image
// and is offered the same file again, found by its path and checked by its
// SHA-256; running its application, only the line that ends its start is
// missing.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "commands/firmware_file.h"
#include "net/device_record.h"
#include "records/flat_json.h"
#include "records/journal.h"

namespace quorvik {

struct UnfinishedUpdate {
  DeviceRecord record;  // as the search listed it
  int row = 0;
  FlatRecord start;  // the start line that nothing ended
  std::string file;  // the path the start line names
  std::string sha256;
  std::optional<uint64_t> fileBytes;  // the file's size, where the line records it
  // The start line's time; empty when its text names no time.
  std::string when;
  // Why the same file cannot be written again (it changed, went, or the
  // start line does not vouch for it); empty when it can.
  std::string fileProblem;
};

struct UnfinishedUpdates {
  // In their loader: left half-updated.
  std::vector<UnfinishedUpdate> halfUpdated;
  // Running an application: the update may have ended or never reached the
  // device; only its end line is missing.
  std::vector<UnfinishedUpdate> running;
  bool empty() const { return halfUpdated.empty() && running.empty(); }
};

// How a start is dated whose time is no time.
constexpr const char* kUnreadableTime = "an unreadable time";

// The listed devices whose last journal line is a start, each once.
UnfinishedUpdates FindUnfinishedUpdates(const std::vector<FlatRecord>& journal,
                                        std::span<const DeviceRecord> listed);

// The row of `listed` where `device` answers in its loader now, or -1: a
// search since the list that found it may have moved its row.
int ListedLoaderRow(std::span<const DeviceRecord> listed, const DeviceRecord& device);

// The file a start names, read once, whole, and checked against the size
// and SHA-256 the start recorded: the read, whose bytes are the ones to
// write, or in `problem` why it cannot be used. Only a regular file of the
// recorded size is opened at all: a start line is a line of a file that
// anyone who can write the journal could have written, and may name any
// path (a system file, a device) for whoever runs the recovery.
FirmwareFileRead ReadRecordedFile(const UnfinishedUpdate& update, std::string& problem);

// The line that ends a start whose device was found running its
// application: the start's fields, outcome "interrupted", written now.
FlatRecord RunningEndLine(const FlatRecord& start, const JournalContext& context);
constexpr const char* kFoundRunningReason =
    "The update never ended; its device was later found running its application, with the new "
    "firmware or the one before";

}  // namespace quorvik

#pragma once
// What one network session knows about the devices it hears: the table the
// receivers fill, the counts the list reports, the black-list that hides
// devices from it, and the reply channels that waiting requests hold. Its
// owner (the network a program opens) hands it to the receivers, the
// commands and the list; nothing of it is process-wide, so a test, a bench or
// a second front end builds one of its own.

#include <cstdint>
#include <mutex>
#include <vector>

#include "net/black_list_text.h"
#include "net/device_record.h"
#include "net/reply_state.h"

namespace quorvik {

struct DeviceSession {
  // Guards the table, both counts and the black-list together: one search
  // answer is processed as a whole under it, and a reader holds it whenever
  // it reads or changes any of them. It is never held while waiting for a
  // reply.
  mutable std::mutex deviceMutex;
  DeviceTable deviceTable;
  int32_t hiddenCount = 0;  // search answers dropped as black-listed since the last Find
  // Answers of devices not yet listed that found the table full, since the
  // last Find or opening: the list cannot show them, and nothing else would
  // tell the operator that they answered.
  int32_t droppedCount = 0;
  CBlackListText blackList;
  // Locks of their own: a receiver publishes an acknowledgement without
  // taking deviceMutex.
  CReplyChannels replyChannels;

  // Stamped, under the lock, into every record a search answer writes.
  uint32_t listeningRound = 0;

  // The listed records, in table order, read under the lock.
  std::vector<DeviceRecord> Listed() const;
  // Begins a listening round: the answers from now on are stamped with the
  // number returned.
  uint32_t BeginListeningRound();
  // Empties the table and both counts, as a new search does; the black-list
  // stays.
  void EmptyTable();
};

}  // namespace quorvik

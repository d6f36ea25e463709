// The process-wide state that receivers and the window thread share, in one
// translation unit so that its order of destruction is known: the receivers
// are stopped before the table, black-list and reply channels they use go away.

#include "net/network_session.h"
#include "net/reply_processing.h"
#include "net/reply_state.h"

std::mutex g_deviceMutex;
DeviceTable g_deviceTable;
int32_t g_hiddenCount = 0;
int32_t g_droppedCount = 0;
CBlackListText g_blackList;
CReplyChannels g_replyChannels;

namespace {
struct CReceiverReaper {
  ~CReceiverReaper() { CloseNetwork(); }
} g_reaper;
}  // namespace

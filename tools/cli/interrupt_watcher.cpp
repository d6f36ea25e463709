#include "tools/cli/interrupt_watcher.h"

#include <pthread.h>

#include <cstdio>

#include "net/reply_state.h"

namespace quorvik {

CInterruptWatcher::CInterruptWatcher(bool graceful, CReplyChannels& replies) {
  sigemptyset(&m_signals);
  sigaddset(&m_signals, SIGINT);
  sigaddset(&m_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &m_signals, nullptr);
  m_thread = std::thread([this, graceful, &replies] {
    int received = 0;
    if (graceful) {
      if (sigwait(&m_signals, &received) != 0 || m_ending) return;
      m_stopAfterDevice = true;
      std::fprintf(stderr,
                   "quorvik-cli: stopping after the device being updated; interrupt again to "
                   "stop at once\n");
    }
    if (sigwait(&m_signals, &received) != 0 || m_ending) return;
    m_interrupted = true;
    replies.AbortWaits();
  });
}

CInterruptWatcher::~CInterruptWatcher() {
  m_ending = true;
  pthread_kill(m_thread.native_handle(), SIGTERM);
  m_thread.join();
}

}  // namespace quorvik

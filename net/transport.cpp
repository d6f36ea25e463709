#include "net/transport.h"

namespace {
ITransport* g_transport = nullptr;
}

ITransport* CurrentTransport() {
  return g_transport;
}
void SetTransport(ITransport* transport) {
  g_transport = transport;
}

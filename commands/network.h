#pragma once
// The network operations the window's logic uses, behind an interface so
// that tests can play the network without sockets.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "net/device_record.h"
#include "net/device_session.h"
#include "net/interfaces.h"
#include "net/network_session.h"
#include "net/requests.h"

namespace quorvik {

// What the operator is told when no network can be used, in the window's
// words wherever it is said.
constexpr const char* kNoInterfaceEntry = "No Ethernet connection !";
constexpr const char* kNetworkFailedMessage = "Connection to Network failed !";

class INetwork {
 public:
  virtual ~INetwork() = default;
  // The devices this network hears, for the commands and the list to read.
  virtual DeviceSession& Devices() = 0;
  virtual InterfaceList EnumerateInterfaces() = 0;
  virtual bool OpenNetwork(const std::string& dotted) = 0;
  // The ports the last OpenNetwork could not bind, with the reasons.
  virtual std::vector<PortProblem> PortProblems() = 0;
  virtual bool RequestBootSearch() = 0;
  virtual bool RequestAppSearch() = 0;
  // Both searches (the loaders' only with `bootOnly`) on these cards only;
  // a network that cannot tell its cards apart asks everywhere.
  virtual bool RequestSearchesOn(std::span<const Ipv4Address> cards, bool bootOnly) {
    (void)cards;
    const bool boot = RequestBootSearch();
    return (bootOnly || RequestAppSearch()) && boot;
  }
  virtual bool RequestEnterBootloader(const DeviceRecord& record) = 0;
  virtual ReplyOutcome RequestWriteBlock(const DeviceRecord& record, uint32_t blockOffset,
                                         std::span<const uint8_t> block, uint32_t sectionLength,
                                         uint16_t sectionParam, int tries) = 0;
  virtual bool RequestVerify(const DeviceRecord& record, uint16_t& value, uint16_t& status) = 0;
  virtual bool RequestRunApplication(const DeviceRecord& record) = 0;
  virtual bool RequestFactoryReset(const DeviceRecord& record) = 0;
};

// The real sockets, and the devices they hear: the network a program opens
// is this object, owned beside the devices it fills.
class CSystemNetwork : public INetwork {
 public:
  // Requests go out through the open network, or through `transport` (a
  // test's recording, a simulated world) when one is given.
  explicit CSystemNetwork(ITransport* transport = nullptr) : m_transport(transport) {}
  ~CSystemNetwork() override = default;
  CSystemNetwork(const CSystemNetwork&) = delete;
  CSystemNetwork& operator=(const CSystemNetwork&) = delete;
  DeviceSession& Devices() override { return m_devices; }
  InterfaceList EnumerateInterfaces() override;
  bool OpenNetwork(const std::string& dotted) override;
  std::vector<PortProblem> PortProblems() override;
  bool RequestBootSearch() override;
  bool RequestAppSearch() override;
  bool RequestSearchesOn(std::span<const Ipv4Address> cards, bool bootOnly) override;
  bool RequestEnterBootloader(const DeviceRecord& record) override;
  ReplyOutcome RequestWriteBlock(const DeviceRecord& record, uint32_t blockOffset,
                                 std::span<const uint8_t> block, uint32_t sectionLength,
                                 uint16_t sectionParam, int tries) override;
  bool RequestVerify(const DeviceRecord& record, uint16_t& value, uint16_t& status) override;
  bool RequestRunApplication(const DeviceRecord& record) override;
  bool RequestFactoryReset(const DeviceRecord& record) override;
  // Stops the receivers and closes the sockets (as its end does).
  void Close() { m_open.Close(); }
  // Receiver threads alive for this network.
  int RunningReceivers() const { return m_open.RunningReceivers(); }
  // Sends through `transport` from now on (a test that builds its world
  // from the devices this network holds).
  void SendThrough(ITransport& transport) { m_transport = &transport; }

 private:
  ITransport& Transport() { return m_transport != nullptr ? *m_transport : m_open; }

  // The devices first: the receivers that fill them stop before they go.
  DeviceSession m_devices;
  COpenNetwork m_open{m_devices};
  ITransport* m_transport = nullptr;
};

}  // namespace quorvik

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
  virtual bool RequestEnterBootloader(const DeviceRecord& record) = 0;
  virtual bool RequestWriteBlock(const DeviceRecord& record, uint32_t blockOffset,
                                 std::span<const uint8_t> block, uint32_t sectionLength,
                                 uint16_t sectionParam, int tries) = 0;
  virtual bool RequestVerify(const DeviceRecord& record, uint16_t& value, uint16_t& status) = 0;
  virtual bool RequestRunApplication(const DeviceRecord& record) = 0;
  virtual bool RequestFactoryReset(const DeviceRecord& record) = 0;
  virtual uint16_t GetReplyStatus() = 0;
};

// The real sockets, and the devices they hear.
class CSystemNetwork : public INetwork {
 public:
  CSystemNetwork() = default;
  ~CSystemNetwork() override;
  CSystemNetwork(const CSystemNetwork&) = delete;
  CSystemNetwork& operator=(const CSystemNetwork&) = delete;
  DeviceSession& Devices() override { return m_devices; }
  InterfaceList EnumerateInterfaces() override;
  bool OpenNetwork(const std::string& dotted) override;
  std::vector<PortProblem> PortProblems() override;
  bool RequestBootSearch() override;
  bool RequestAppSearch() override;
  bool RequestEnterBootloader(const DeviceRecord& record) override;
  bool RequestWriteBlock(const DeviceRecord& record, uint32_t blockOffset,
                         std::span<const uint8_t> block, uint32_t sectionLength,
                         uint16_t sectionParam, int tries) override;
  bool RequestVerify(const DeviceRecord& record, uint16_t& value, uint16_t& status) override;
  bool RequestRunApplication(const DeviceRecord& record) override;
  bool RequestFactoryReset(const DeviceRecord& record) override;
  uint16_t GetReplyStatus() override;

 private:
  DeviceSession m_devices;
};

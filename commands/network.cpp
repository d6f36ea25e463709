#include "commands/network.h"

#include "net/network_session.h"
#include "net/reply_state.h"
#include "net/requests.h"

CSystemNetwork::~CSystemNetwork() {
  CloseNetworkOf(m_devices);
}
InterfaceList CSystemNetwork::EnumerateInterfaces() {
  m_devices.replyChannels.ResetStatus();
  return ::EnumerateInterfaces();
}
bool CSystemNetwork::OpenNetwork(const std::string& dotted) {
  return ::OpenNetwork(m_devices, dotted);
}
std::vector<PortProblem> CSystemNetwork::PortProblems() {
  return NetworkPortProblems();
}
bool CSystemNetwork::RequestBootSearch() {
  return ::RequestBootSearch();
}
bool CSystemNetwork::RequestAppSearch() {
  return ::RequestAppSearch();
}
bool CSystemNetwork::RequestEnterBootloader(const DeviceRecord& record) {
  return ::RequestEnterBootloader(record);
}
bool CSystemNetwork::RequestWriteBlock(const DeviceRecord& record, uint32_t blockOffset,
                                       std::span<const uint8_t> block, uint32_t sectionLength,
                                       uint16_t sectionParam, int tries) {
  return ::RequestWriteBlock(m_devices, &record, blockOffset, block, sectionLength, sectionParam,
                             tries);
}
bool CSystemNetwork::RequestVerify(const DeviceRecord& record, uint16_t& value, uint16_t& status) {
  return ::RequestVerify(m_devices, &record, value, status);
}
bool CSystemNetwork::RequestRunApplication(const DeviceRecord& record) {
  return ::RequestRunApplication(record);
}
bool CSystemNetwork::RequestFactoryReset(const DeviceRecord& record) {
  return ::RequestFactoryReset(record);
}
uint16_t CSystemNetwork::GetReplyStatus() {
  return m_devices.replyChannels.LastStatus();
}

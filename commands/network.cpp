#include "commands/network.h"

#include "net/network_session.h"
#include "net/reply_state.h"
#include "net/requests.h"

namespace quorvik {

InterfaceList CSystemNetwork::EnumerateInterfaces() {
  m_devices.replyChannels.ResetStatus();
  return quorvik::EnumerateInterfaces();
}
bool CSystemNetwork::OpenNetwork(const std::string& dotted) {
  return m_open.Open(dotted);
}
std::vector<PortProblem> CSystemNetwork::PortProblems() {
  return m_open.Problems();
}
bool CSystemNetwork::RequestBootSearch() {
  return quorvik::RequestBootSearch(Transport());
}
bool CSystemNetwork::RequestAppSearch() {
  return quorvik::RequestAppSearch(Transport());
}
bool CSystemNetwork::RequestSearchesOn(std::span<const Ipv4Address> cards, bool bootOnly) {
  if (cards.empty()) return INetwork::RequestSearchesOn(cards, bootOnly);
  return quorvik::RequestSearchesVia(Transport(), cards, bootOnly);
}
bool CSystemNetwork::RequestEnterBootloader(const DeviceRecord& record) {
  return quorvik::RequestEnterBootloader(Transport(), record);
}
ReplyOutcome CSystemNetwork::RequestWriteBlock(const DeviceRecord& record, uint32_t blockOffset,
                                               std::span<const uint8_t> block,
                                               uint32_t sectionLength, uint16_t sectionParam,
                                               int tries) {
  return quorvik::RequestWriteBlock(Transport(), m_devices, &record, blockOffset, block,
                                    sectionLength, sectionParam, tries);
}
bool CSystemNetwork::RequestVerify(const DeviceRecord& record, uint16_t& value, uint16_t& status) {
  return quorvik::RequestVerify(Transport(), m_devices, &record, value, status);
}
bool CSystemNetwork::RequestRunApplication(const DeviceRecord& record) {
  return quorvik::RequestRunApplication(Transport(), record);
}
bool CSystemNetwork::RequestFactoryReset(const DeviceRecord& record) {
  return quorvik::RequestFactoryReset(Transport(), record);
}

}  // namespace quorvik

#include "net/reply_processing.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "base/hex_text.h"
#include "net/bytes.h"
#include "net/protocol.h"

namespace quorvik {

namespace {

// A generation-3 answer may announce up to 255 identity bytes; its key
// covers them all, so the key buffer is sized for that.
class SearchKey {
 public:
  SearchKey(const FrameReader& reader, size_t at, size_t count) : m_length(count * 2) {
    for (size_t i = 0; i < count; ++i) WriteHexByte(reader.U8(at + i), &m_text[2 * i]);
  }
  std::string_view View() const { return std::string_view(m_text.data(), m_length); }

 private:
  std::array<char, 2 * 255> m_text;
  size_t m_length;
};

struct Lookup {
  int match = -1;     // index of the device's record, or -1
  int firstFree = 0;  // where a new record goes; kDeviceTableCapacity when full
};

bool IsHidden(const DeviceSession& devices, const SearchKey& key) {
  return devices.blackList.Hides(key.View());
}

// A full table cannot take the answer; one of a device not listed yet is
// counted, one of a hidden device is not (it would not be listed anyway).
void CountIfDropped(DeviceSession& devices, const Lookup& found, const SearchKey& key) {
  if (found.match < 0 && !IsHidden(devices, key)) ++devices.droppedCount;
}

template <typename Predicate>
Lookup Find(const DeviceTable& table, Predicate matches) {
  Lookup result;
  int i = 0;
  for (; i < kDeviceTableCapacity && !table[i].IsFree(); ++i)
    if (result.match < 0 && matches(table[i])) result.match = i;
  result.firstFree = i;
  return result;
}

bool IdentityEquals(const DeviceRecord& record, const FrameReader& reader, size_t at,
                    size_t count) {
  for (size_t i = 0; i < count; ++i)
    if (record.identity[i] != reader.U8(at + i)) return false;
  return true;
}

void ReadIdentity(DeviceRecord& record, const FrameReader& reader, size_t at, size_t length) {
  record.identity.fill(0);
  record.identityLength = static_cast<uint8_t>(std::min(length, kIdentityCapacity));
  reader.Copy(at, std::span(record.identity).first(record.identityLength));
}

void ReadMac(DeviceRecord& record, const FrameReader& reader, size_t at) {
  reader.Copy(at, record.mac);
}

AnswerSignature SignatureOf(const DeviceRecord& record) {
  return {record.mac, record.deviceId, record.mcuId, record.loaderType, record.address};
}

// One device answers from its loader and from its application with the
// same hardware address (or its loader with the placeholder), and with one
// model code and MCU from its loader, all from one address within one
// filling of the table (a device that moves does so between searches, and
// a search empties the table).
bool SameAnswerer(const AnswerSignature& a, bool aLoader, const AnswerSignature& b, bool bLoader) {
  if (a.address != b.address) return false;
  if (HasRealMac(a.mac) && HasRealMac(b.mac) && a.mac != b.mac) return false;
  return !(aLoader && bLoader) || (a.deviceId == b.deviceId && a.mcuId == b.mcuId);
}

void AddTwinAnswer(DeviceRecord& record, const AnswerSignature& answer) {
  for (size_t i = 0; i < record.twins; ++i) {
    const AnswerSignature& known = record.twinAnswers[i];
    // A running device reports no model; its address says who it is.
    const bool running = known.loaderType == 0 || answer.loaderType == 0;
    if (known == answer || (running && HasRealMac(known.mac) && known.mac == answer.mac &&
                            known.address == answer.address))
      return;
  }
  if (record.twins < kTwinCapacity) record.twinAnswers[record.twins++] = answer;
}

// The table keeps one record per serial; what it must not do is let two
// devices pass for one. `before` is the record as it was before this answer
// was written into it.
void NoteAnswerer(DeviceRecord& record, const DeviceRecord& before) {
  const bool loader = record.loaderType != 0, wasLoader = before.loaderType != 0;
  if (record.twins == 0 &&
      SameAnswerer(SignatureOf(before), wasLoader, SignatureOf(record), loader))
    return;
  if (record.twins == 0) AddTwinAnswer(record, SignatureOf(before));
  AddTwinAnswer(record, SignatureOf(record));
}

// Loaders of different generations keep records of their own even with
// one serial; a request that names the serial reaches both.
void NoteLoaderTwins(DeviceTable& table, int index) {
  DeviceRecord& added = table[index];
  if (std::all_of(added.identity.begin(), added.identity.end(), [](uint8_t b) { return b == 0; }))
    return;
  for (int i = 0; i < kDeviceTableCapacity && !table[i].IsFree(); ++i) {
    DeviceRecord& other = table[i];
    // The same loader heard on another card is one device, not a twin.
    if (i == index || other.loaderType == 0 || other.slaveNumber != 0 || other.card != added.card ||
        other.identity != added.identity)
      continue;
    if (other.twins == 0) AddTwinAnswer(other, SignatureOf(other));
    AddTwinAnswer(other, SignatureOf(added));
    if (added.twins == 0) AddTwinAnswer(added, SignatureOf(added));
    AddTwinAnswer(added, SignatureOf(other));
  }
}

void ProcessBootSearchAnswer(DeviceSession& devices, uint16_t port, const FrameReader& r,
                             const Ipv4Address& sender, const Ipv4Address& card) {
  const uint16_t typeWord = r.Be16(reply_at::kTypeWord);
  // No bootloader has type 0; storing it would list the device as running
  // its application and send it application-mode commands.
  if (typeWord == 0) return;
  const Generation gen = GenerationOf(typeWord);
  const size_t gen3IdentityLength = r.U8(reply_at::kGen3IdentityLength);
  const size_t gen3StoredLength = std::min(gen3IdentityLength, kIdentityCapacity);

  // A device heard on two cards is listed on each: each listing is reached
  // through its own card. The card is compared last: under a flood every
  // record is looked at for every answer.
  Lookup found = Find(devices.deviceTable, [&](const DeviceRecord& rec) {
    if (rec.loaderType >= 1 && rec.loaderType <= 511)
      return gen == Generation::kGen1 &&
             IdentityEquals(rec, r, reply_at::kIdentity, kGen1IdentityLength) && rec.card == card;
    if (rec.loaderType >= 512 && rec.loaderType <= 767)
      return gen == Generation::kGen2 &&
             IdentityEquals(rec, r, reply_at::kIdentity, kIdentityCapacity) && rec.card == card;
    if (rec.loaderType >= 768)
      return gen == Generation::kGen3 && rec.slaveNumber == 0 &&
             rec.identityLength == gen3StoredLength &&
             IdentityEquals(rec, r, reply_at::kGen3Identity, gen3StoredLength) && rec.card == card;
    return false;
  });
  const SearchKey key =
      gen == Generation::kGen1   ? SearchKey(r, reply_at::kIdentity, kGen1IdentityLength)
      : gen == Generation::kGen2 ? SearchKey(r, reply_at::kIdentity, kIdentityCapacity)
                                 : SearchKey(r, reply_at::kGen3Identity, gen3IdentityLength);
  if (found.firstFree >= kDeviceTableCapacity) {
    CountIfDropped(devices, found, key);
    return;
  }
  if (IsHidden(devices, key)) {
    ++devices.hiddenCount;
    return;
  }

  const int index = found.match >= 0 ? found.match : found.firstFree;
  DeviceRecord& rec = devices.deviceTable[index];
  const DeviceRecord before = rec;
  rec.slaveNumber = 0;
  rec.unitOf = 0;
  rec.port = port;
  rec.address = sender;
  rec.card = card;
  rec.heardInRound = devices.listeningRound;
  switch (gen) {
    case Generation::kGen1:
    case Generation::kGen2:
      rec.loaderType = typeWord;
      rec.version = r.Be16(reply_at::kVersion);
      rec.deviceId = r.Be16(reply_at::kDeviceId);
      rec.blockSize = r.Be16(reply_at::kBlockSize);
      ReadMac(rec, r, reply_at::kMac);
      if (gen == Generation::kGen1) {
        ReadIdentity(rec, r, reply_at::kIdentity, kGen1IdentityLength);
        rec.loaderFlags = rec.deviceId == 0x3610 ? 1 : 0;
      } else {
        ReadIdentity(rec, r, reply_at::kIdentity, kIdentityCapacity);
        rec.loaderFlags = 0;
      }
      break;
    case Generation::kGen3:
    case Generation::kApplication:  // excluded above
      rec.loaderType = typeWord & 0xFF00;
      rec.loaderFlags = static_cast<uint8_t>(typeWord & 0xFF);
      ReadMac(rec, r, reply_at::kGen3Mac);
      rec.deviceId = r.Be16(reply_at::kGen3DeviceId);
      rec.mcuId = r.Be16(reply_at::kGen3McuId);
      rec.version = r.Be16(reply_at::kGen3Version);
      rec.blockSize = r.Be16(reply_at::kGen3BlockSize);
      ReadIdentity(rec, r, reply_at::kGen3Identity, gen3IdentityLength);
      break;
  }
  if (found.match >= 0)
    NoteAnswerer(rec, before);
  else
    NoteLoaderTwins(devices.deviceTable, index);
  if (gen != Generation::kGen3) return;

  // Units of a device found again are updated where they stand; only units
  // not yet in the table are added, so repeated answers never duplicate rows.
  const unsigned units = r.U8(reply_at::kGen3Units);
  if (units < 2) return;
  std::array<bool, 256> present{};
  const uint8_t owner = static_cast<uint8_t>(index + 1);
  int freeIndex = found.match >= 0 ? found.firstFree : index + 1;
  for (int i = 0; i < freeIndex; ++i) {
    DeviceRecord& unit = devices.deviceTable[i];
    if (unit.unitOf != owner || unit.slaveNumber == 0 || unit.slaveNumber >= units) continue;
    present[unit.slaveNumber] = true;
    unit.loaderType = rec.loaderType;
    unit.version = rec.version;
    unit.deviceId = rec.deviceId;
    unit.mcuId = rec.mcuId;
    unit.blockSize = rec.blockSize;
  }
  for (unsigned k = 1; k < units; ++k) {
    if (present[k]) continue;
    if (freeIndex >= kDeviceTableCapacity) return;
    DeviceRecord& unit = devices.deviceTable[freeIndex++];
    unit.loaderType = rec.loaderType;
    unit.version = rec.version;
    unit.deviceId = rec.deviceId;
    unit.mcuId = rec.mcuId;
    unit.blockSize = rec.blockSize;
    unit.slaveNumber = static_cast<uint8_t>(k);
    unit.unitOf = owner;
    unit.card = card;
  }
}

void ProcessAppSearchAnswer(DeviceSession& devices, const FrameReader& r, const Ipv4Address& sender,
                            const Ipv4Address& card) {
  Lookup found = Find(devices.deviceTable, [&](const DeviceRecord& rec) {
    return IdentityEquals(rec, r, reply_at::kAppIdentity, kAppIdentityCompareLength) &&
           rec.card == card;
  });
  const SearchKey key(r, reply_at::kAppIdentity, kAppIdentityCompareLength);
  if (found.firstFree >= kDeviceTableCapacity) {
    CountIfDropped(devices, found, key);
    return;
  }
  if (IsHidden(devices, key)) {
    ++devices.hiddenCount;
    return;
  }

  const uint16_t version = r.Be16(reply_at::kAppVersion);
  // A device that reports version 0 in application mode leaves a free
  // record. Freeing a record in the middle of the run would split the table
  // and let the next new device overwrite a listed one, so such an answer
  // may only take a new record, never blank a listed one.
  if (version == 0 && found.match >= 0) return;

  DeviceRecord& rec = devices.deviceTable[found.match >= 0 ? found.match : found.firstFree];
  const DeviceRecord before = rec;
  rec.loaderType = 0;
  rec.version = version;
  rec.deviceId = 0;
  rec.blockSize = 0;
  ReadMac(rec, r, reply_at::kAppMac);
  ReadIdentity(rec, r, reply_at::kAppIdentity, r.U8(reply_at::kAppIdentityLength));
  rec.port = kAppPort;
  rec.address = sender;
  rec.card = card;
  rec.heardInRound = devices.listeningRound;
  std::array<char, kNameCapacity> name{};
  r.Copy(reply_at::kAppName, std::span(reinterpret_cast<uint8_t*>(name.data()), name.size()));
  rec.SetName(std::string_view(name.data(), ::strnlen(name.data(), name.size())));
  rec.unitOf = 0;
  if (found.match >= 0) NoteAnswerer(rec, before);
}

}  // namespace

std::string MakeSearchKey(std::span<const uint8_t> identity) {
  FrameReader reader(identity);
  return std::string(SearchKey(reader, 0, std::min<size_t>(identity.size(), 255)).View());
}

void ProcessDatagram(DeviceSession& devices, uint16_t port, std::span<const uint8_t> datagram,
                     const Ipv4Address& sender, const Ipv4Address& card) {
  if (datagram.size() > kReceiveBufferSize) datagram = datagram.first(kReceiveBufferSize);
  const FrameReader r(datagram);
  const uint16_t opcode = r.Le16(reply_at::kOpcode);
  if (port == kBootPortA || port == kBootPortB) {
    if (!HasMagic(datagram, kBootMagic)) return;
    switch (opcode) {
      case kOpSearchReply: {
        std::lock_guard lock(devices.deviceMutex);
        ProcessBootSearchAnswer(devices, port, r, sender, card);
        return;
      }
      case kOpWriteBlockReply:
        devices.replyChannels.PublishWriteAck(sender);
        return;
      case kOpVerifyReply:
        devices.replyChannels.PublishVerify(r.Be16(reply_at::kVerifyValue),
                                            r.Be16(reply_at::kVerifyStatus), sender);
        return;
      default:
        return;
    }
  }
  if (port == kAppPort) {
    if (!HasMagic(datagram, kAppMagic) || opcode != kOpSearchReply) return;
    std::lock_guard lock(devices.deviceMutex);
    ProcessAppSearchAnswer(devices, r, sender, card);
  }
}

}  // namespace quorvik

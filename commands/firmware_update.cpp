// The Firmware-Update command: restart a running device into its
// bootloader, find it again by its hardware address, write the fitting
// section block by block, verify where the bootloader can, and start it.

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdio>

#include "app/operator_files.h"
#include "app/quorvik_dlg.h"
#include "app/sha256.h"
#include "devices/device_identity.h"
#include "net/frames.h"
#include "net/protocol.h"
#include "net/reply_processing.h"

namespace {

std::string CompletionLine(bool verified, const std::string& path, int index) {
  // The path is the operator's text: it is appended, never used as a format.
  return std::string(verified ? "Write and verify data complete. (" : "Write data complete. (") +
         path + " at index " + std::to_string(index) + ")";
}

bool IsFolder(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

std::optional<DeviceRecord> CQuorvikDlg::RecordAt(int index) const {
  if (index < 0 || index >= kDeviceTableCapacity) return std::nullopt;
  std::lock_guard lock(g_deviceMutex);
  if (g_deviceTable[index].IsFree()) return std::nullopt;
  return g_deviceTable[index];
}

std::optional<DeviceRecord> CQuorvikDlg::BootRecordWithMac(
    const std::array<uint8_t, 6>& mac) const {
  std::lock_guard lock(g_deviceMutex);
  for (int i = CountUsedRecords(g_deviceTable) - 1; i >= 0; --i)
    if (g_deviceTable[i].loaderType != 0 && g_deviceTable[i].mac == mac) return g_deviceTable[i];
  return std::nullopt;
}

std::optional<std::string> CQuorvikDlg::SelectFirmwareFile() {
  // Firmware files rarely sit where the program was started (the home
  // folder, from the desktop menu): the dialog opens where the last one was.
  std::string folder = m_settings ? m_settings->Read(kSettingsSection, kKeyFirmwareFolder) : "";
  if (folder.empty() || !IsFolder(folder)) folder = m_workDir;
  auto path =
      m_view.ChooseFile({folder + "/firmware.bin", ".bin", "Firmware File (*.bin)", "*.bin"});
  if (!path) return std::nullopt;
  m_view.SetWaitCursor(true);
  m_lastFirmwarePath = *path;
  if (path->find('/') != std::string::npos && FolderOf(*path) != folder)
    WriteSetting(kKeyFirmwareFolder, FolderOf(*path));
  return path;
}

void CQuorvikDlg::OnFirmwareUpdate() {
  Guarded([this] {
    if (UpdateBeforeFind()) OnFind();
  });
  m_workedOn.reset();
}

bool CQuorvikDlg::UpdateBeforeFind() {
  ReadCheckBoxes();
  if (!RecordAt(m_view.SelectedRow())) {
    AddStatusLine("Wrong interface selection !", 1);
    NoDeviceResult(CommandKind::kUpdate, "Wrong interface selection !");
    return false;
  }
  if (RefusedAsTwin(CommandKind::kUpdate, *RecordAt(m_view.SelectedRow()))) return false;
  if (m_useLastFile != 0 && !m_lastFirmwarePath.empty()) {
    m_view.SetWaitCursor(true);
  } else if (!SelectFirmwareFile()) {
    BeginResult(CommandKind::kUpdate, *RecordAt(m_view.SelectedRow()));
    Decide(Outcome::kRefused, "", 0, "No firmware file chosen");
    return false;
  }
  RunFirmwareUpdate();
  m_clock.SleepFor(kAfterUpdateWait);
  return true;
}

void CQuorvikDlg::RunFirmwareUpdate() {
  const bool ctrlHeld = m_view.IsCtrlHeld();
  std::optional<DeviceRecord> target = RecordAt(m_view.SelectedRow());
  if (target && RefusedAsTwin(CommandKind::kUpdate, *target)) return;
  m_network.RequestBootSearch();
  ReadCheckBoxes();
  target = RecordAt(m_view.SelectedRow());
  if (!target) {
    AddStatusLine("Wrong interface selection !", 1);
    NoDeviceResult(CommandKind::kUpdate, "Wrong interface selection !");
    return;
  }
  CommandResult& result = BeginResult(CommandKind::kUpdate, *target);
  result.update.emplace();
  // A month later, "fleet.bin" says nothing of which file it was.
  result.update->path = AbsolutePath(m_lastFirmwarePath);
  m_workedOn = *target;

  // Everything that can be checked of the file is checked before a running
  // device is restarted: a refused file must not leave it in its loader.
  // The bytes read here are the ones written, whatever happens to the file
  // on disk meanwhile.
  std::optional<FirmwareFileRead> read;
  if (!m_fixedFile) {
    read = ReadFirmwareFile(m_lastFirmwarePath);
    if (read->verdict) {
      RefuseFile(*read->verdict, std::nullopt);
      return;
    }
  }
  // A fleet's bytes were read and checked once, for the plan.
  const std::vector<uint8_t>& file = m_fixedFile ? *m_fixedFile : read->bytes;
  result.update->sha256 = Sha256Hex(file);

  const bool restarted = target->loaderType == 0;
  if (restarted) {
    // The Find below runs without its chain step, so the "... and make
    // Update" box is left as the operator has it: it stays live during the
    // run, and unticking it is how a chain is stopped.
    AddStatusLine("Set device to firmware update ...", 1);
    m_network.RequestEnterBootloader(*target);
    m_running->frameSent = true;
    const auto savedMac = target->mac;
    m_clock.SleepFor(kEnterBootloaderWait);
    AddStatusLine("Get firmware update parameter...", 1);
    FindDevices();
    target = BootRecordWithMac(savedMac);
    AddStatusLine("Start firmware update...", 1);
    if (!target) {
      m_view.SetWaitCursor(false);
      Decide(Outcome::kFailed, kLostAfterRestartLine, 1);
      return;
    }
    // Its loader may share its serial with another: a block sent now
    // would be written into both.
    if (target->twins >= 2) {
      m_view.SetWaitCursor(false);
      RefusedAsTwin(CommandKind::kUpdate, *target, true);
      return;
    }
    m_running->addressed = *target;
    m_workedOn = *target;
  }

  const FirmwareLoad load = WalkFirmwareBytes(file, *target, m_firmwareImage);
  if (const auto* verdict = std::get_if<FirmwareVerdict>(&load)) {
    RefuseFile(*verdict, restarted ? target : std::nullopt);
    return;
  }
  const FirmwareSection section = std::get<FirmwareSection>(load);
  m_running->update->section = section.index;
  m_running->update->bytes = section.dataLength;
  if (section.dataLength == 0) m_running->warning = kEmptySectionWarning;

  // A block size of 0 cannot cut the data, and one larger than the frame
  // holds would skip the bytes between blocks: either would brick the
  // device, so nothing is sent.
  const size_t room = WriteBlockLayoutFor(target->loaderType).MaxData();
  if (target->blockSize == 0 || target->blockSize > room) {
    m_view.SetWaitCursor(false);
    Refuse("Block size not supported! (ERROR BLOCK)", restarted ? target : std::nullopt);
    return;
  }

  if (!WriteSection(*target, section)) {
    char line[64];
    std::snprintf(line, sizeof line, "Timeout on write data! [%.4x]", m_network.GetReplyStatus());
    m_view.SetWaitCursor(false);
    Decide(Outcome::kFailed, line, 1);
    return;
  }

  const uint32_t blockSize = target->blockSize;
  const bool canVerify = LoaderVerifies(*target);
  if (canVerify) {
    const uint16_t crc =
        ComputeImageCrcPadded(m_firmwareImage, size_t{m_running->update->blocks} * blockSize);
    m_running->update->crc = crc;
    uint16_t value = 0, status = 0;
    const bool answered = m_network.RequestVerify(*target, value, status);
    if (!answered && m_clock.Interrupted()) throw CCommandCancelled{};
    if (!answered || value != crc || status != 0) {
      m_view.SetWaitCursor(false);
      Decide(Outcome::kFailed, "Firmware verification failed!", 1);
      return;
    }
    m_running->update->verified = true;
    if (ctrlHeld) m_view.ShowMessage("Firmware verification OK");
  } else if (ctrlHeld) {
    m_view.ShowMessage("NO firmware verification available!");
  }
  AddStatusLine(CompletionLine(canVerify, m_lastFirmwarePath, section.index), 0);

  m_network.RequestRunApplication(*target);
  // Also after an empty section, where it is the only frame the device got.
  m_running->frameSent = m_running->runRequestSent = true;
  // Decided, but handed out only with what the next search tells of the
  // device (see ConfirmPendingUpdate).
  m_running->outcome = Outcome::kOk;
  m_running->statusLine = m_running->reason = "RUN application.";
  m_pendingUpdate = std::move(*m_running);
  m_running.reset();
  AddStatusLine("RUN application.", 0);
  m_clock.SleepFor(kAfterRunWait);
  m_useLastFile = 1;
  m_view.SetChecked(CheckBox::kUseLastFile, true);
  m_view.SetWaitCursor(false);
}

void CQuorvikDlg::RefuseFile(FirmwareVerdict verdict,
                             const std::optional<DeviceRecord>& restarted) {
  // A file that is wrong for this device is forgotten so that "Use last
  // file again" asks anew; an unserved bootloader says nothing of the file.
  if (verdict != FirmwareVerdict::kWrongBootloader) m_lastFirmwarePath.clear();
  m_view.SetWaitCursor(false);
  Refuse(FirmwareVerdictLine(verdict), restarted);
}

void CQuorvikDlg::Refuse(const std::string& line, const std::optional<DeviceRecord>& restarted) {
  // A device that this command restarted goes back to its application:
  // nothing was written, and it must not be left waiting in its loader.
  if (restarted) m_running->runRequestSent = true;
  Decide(Outcome::kRefused, line, 1);
  if (restarted) m_network.RequestRunApplication(*restarted);
}

bool CQuorvikDlg::WriteSection(const DeviceRecord& device, const FirmwareSection& section) {
  const uint32_t blockSize = device.blockSize;
  const uint32_t length = section.dataLength;
  m_view.SetProgressRange(0, static_cast<int>(length / blockSize));
  m_view.SetProgressStep(1);
  m_view.SetProgressPos(0);
  // The last block may reach past the image buffer; it is sent from a copy
  // padded with 0xFF instead of reading past the buffer.
  std::array<uint8_t, kMaxRequestLength> tail;
  for (uint32_t offset = 0; offset < length; offset += blockSize) {
    m_view.StepProgress();
    std::span<const uint8_t> block;
    if (size_t{offset} + blockSize <= m_firmwareImage.size()) {
      block = std::span<const uint8_t>(m_firmwareImage).subspan(offset, blockSize);
    } else {
      tail.fill(0xFF);
      std::copy(m_firmwareImage.begin() + offset, m_firmwareImage.end(), tail.begin());
      block = std::span<const uint8_t>(tail).first(blockSize);
    }
    m_running->frameSent = true;
    m_running->update->blockUnanswered = true;
    if (!m_network.RequestWriteBlock(device, offset, block, length, section.sectionParam,
                                     kWriteTries)) {
      // A wait cut short by the program's end is no time-out of the device.
      if (m_clock.Interrupted()) throw CCommandCancelled{};
      return false;
    }
    m_running->update->blockUnanswered = false;
    ++m_running->update->blocks;
    if (onBlockWritten)
      onBlockWritten(m_running->update->blocks, BlockCount(length, device.blockSize));
  }
  return true;
}

void CQuorvikDlg::UpdateRowWith(int row, const std::string& path,
                                std::shared_ptr<const std::vector<uint8_t>> file) {
  m_fixedFile = std::move(file);
  m_lastFirmwarePath = path;
  m_view.SelectRow(row);
  try {
    Guarded([this] {
      m_view.SetWaitCursor(true);
      RunFirmwareUpdate();
      m_clock.SleepFor(kAfterUpdateWait);
      FindDevices();  // closes the update; a fleet goes on from its list
    });
  } catch (...) {
    m_fixedFile.reset();
    m_workedOn.reset();
    throw;
  }
  m_fixedFile.reset();
  m_workedOn.reset();
}

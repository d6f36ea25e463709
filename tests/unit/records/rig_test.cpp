// Rig files and the roll-call: what a person's file may hold and what it
// may not, re-saves that keep the person's work, and the matching rules
// that decide present, changed, missing, hidden and unexpected.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "devices/device_identity.h"
#include "records/rig.h"
#include "records/rig_firmware.h"
#include "records/roll_call.h"

using namespace quorvik;

namespace fs = std::filesystem;

namespace {

DeviceRecord Device(std::vector<uint8_t> serial, std::array<uint8_t, 6> mac, uint16_t version,
                    uint16_t loaderType = 0) {
  DeviceRecord r;
  r.loaderType = loaderType;
  r.version = version;
  r.mac = mac;
  r.identityLength = static_cast<uint8_t>(serial.size());
  std::copy(serial.begin(), serial.end(), r.identity.begin());
  r.SetName("Node");
  return r;
}

DeviceRecord Unit(uint8_t number) {
  DeviceRecord r = Device({}, {}, 0x0301, 0x0381);
  r.slaveNumber = number;
  r.unitOf = 1;
  return r;
}

std::vector<uint8_t> Serial(uint8_t first, size_t length, size_t padding = 0) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < length; ++i) bytes.push_back(static_cast<uint8_t>(first + i));
  bytes.resize(length + padding, 0);
  return bytes;
}

constexpr std::array<uint8_t, 6> kMacA = {0x00, 0x0A, 0x95, 0, 0, 0x21};
constexpr std::array<uint8_t, 6> kMacB = {0x00, 0x0A, 0x95, 0, 0, 0x31};
constexpr std::array<uint8_t, 6> kMacC = {0x00, 0x0A, 0x95, 0, 0, 0x41};

std::string RigText(const std::string& devices) {
  return R"({"format": 1, "type": "quorvik-rig", "devices": [)" + devices + "]}";
}

RigEntry Entry(std::vector<uint8_t> serial, std::optional<std::array<uint8_t, 6>> mac,
               std::string version, std::string mode, std::string label = {}) {
  RigEntry e;
  e.serial = std::move(serial);
  e.mac = mac;
  e.version = std::move(version);
  e.mode = std::move(mode);
  e.label = std::move(label);
  return e;
}

const std::string kHash(64, 'a');

// A rig of one device whose top level declares `firmware`.
std::string Declaring(const std::string& firmware) {
  return R"({"format": 1, "type": "quorvik-rig", "firmware": )" + firmware +
         R"(, "devices": [{"serial": "21"}]})";
}

}  // namespace

TEST(RigFile, WhatIsNoRigIsSaidPlainly) {
  const std::string valid =
      RigText(R"({"serial": "2122232425262728292A2B", "mac": "00-0A-95-00-00-21"})");
  const std::string deep(100000, '[');
  const struct {
    std::string text;
    std::string problem;
  } cases[] = {
      {"", "ends in the middle (line 1, column 1)"},
      {"{\"format\": 1,\n \"type\": quorvik}", "is not JSON (at line 2, column 10)"},
      {deep, "is not JSON"},
      {R"([{"serial": "21"}])", "no Quorvik rig"},
      {R"({"devices": []})", "no Quorvik rig"},
      {R"({"type": "quorvik-rig", "devices": []})", "no \"format\" number"},
      {R"({"format": 2, "type": "quorvik-rig", "devices": []})",
       "rig format 2; this program reads format 1"},
      {R"({"format": 1, "type": "quorvik-rig", "devices": {}})", "no \"devices\" list"},
      {RigText("[]"), "device 1: it is not an object"},
      {RigText(R"({"serial": "21G3"})"), "device 1: the serial \"21G3\" is not"},
      {RigText(R"({"serial": 2122})"), "device 1: \"serial\" is not text"},
      {RigText(R"({"serial": "21", "mac": "00-0A-95:00-00-21"})"), "the MAC \"00-0A-95:00-00-21\""},
      {RigText(R"({"serial": "21", "mode": "running"})"), "the mode \"running\""},
      {RigText(R"({"serial": "21", "deviceId": "3680"})"), "the deviceId \"3680\""},
      {RigText(R"({"mac": "00-60-35-00-00-00", "label": "Truss 1"})"),
       "device 1: it names no device"},
      {RigText(R"({"serial": "0000", "mac": "00-00-00-00-00-00"})"), "it names no device"},
      // A running device's 11 bytes and its loader's padded 16 are one device.
      {RigText(R"({"serial": "2122232425262728292A2B"}, {"serial": "21"},
                  {"serial": "2122232425262728292a2b0000000000"})"),
       "devices 1 and 3 name the same device"},
      // Declared firmware: nothing is ever written from a declaration that
      // does not say exactly which file and version.
      {Declaring(R"({})"), "\"firmware\" is not a list"},
      {Declaring(R"([{"model": "3680", "file": "a.bin", "sha256": ")" + kHash +
                 R"(", "version": "3.04"}])"),
       "firmware 1: the model \"3680\""},
      {Declaring(R"([{"model": "0x3680", "sha256": ")" + kHash + R"(", "version": "3.04"}])"),
       "firmware 1: it names no \"file\""},
      {Declaring(R"([{"model": "0x3680", "file": "a.bin", "sha256": "12", "version": "3.04"}])"),
       "the sha256 \"12\""},
      {Declaring(R"([{"model": "0x3680", "file": "a.bin", "sha256": ")" + kHash +
                 R"(", "version": "3.4"}])"),
       "the version \"3.4\""},
      {Declaring(R"([{"model": "0x3680", "file": "a.bin", "sha256": ")" + kHash +
                 R"(", "version": "3.04", "allowDowngrade": "yes"}])"),
       "\"allowDowngrade\" is neither true nor false"},
      {Declaring(R"([{"model": "0x3680", "file": "a.bin", "sha256": ")" + kHash +
                 R"(", "version": "3.04"}, {"model": "0x3680", "file": "b.bin", "sha256": ")" +
                 kHash + R"(", "version": "3.05"}])"),
       "firmware 1 and 2 declare the same model"},
      {RigText(R"({"serial": "21", "firmware": {"file": "a.bin", "version": "3.04"}})"),
       "device 1: its firmware: the sha256"},
  };
  for (const auto& c : cases) {
    const RigDecode decoded = DecodeRig(c.text);
    EXPECT_FALSE(decoded.rig) << c.text.substr(0, 80);
    EXPECT_NE(decoded.problem.find(c.problem), std::string::npos)
        << c.text.substr(0, 80) << "\n  said: " << decoded.problem;
  }
  EXPECT_TRUE(DecodeRig(valid).rig) << DecodeRig(valid).problem;
  // Cut anywhere, a saved rig says so, with where it ends.
  const std::string saved = EncodeRig(*DecodeRig(valid).rig, "2026-12-08T09:00:00.000Z");
  for (size_t length = 0; length + 1 < saved.size(); ++length) {
    const RigDecode cut = DecodeRig(saved.substr(0, length));
    ASSERT_FALSE(cut.rig) << length;
    EXPECT_NE(cut.problem.find("ends in the middle"), std::string::npos) << cut.problem;
  }
}

TEST(RigFile, WhatThisProgramDoesNotKnowIsWrittenBackAsItWas) {
  const std::string text = RigText(
      R"({"serial": "2122232425262728292a2b", "mac": "00:0a:95:00:00:21", "deviceId": "0x3680",
          "model": "Matrix", "version": "1.02", "mode": "app", "label": "Truss 3 \"SR\"\u00e9",
          "location": null, "dmx": {"universe": 3, "patch": [1, 2.5e3, true]}},
         {"mac": "00-0A-95-00-00-31"})");
  const RigDecode first = DecodeRig(text.substr(0, text.size() - 1) + R"(, "show": "Tour"})");
  ASSERT_TRUE(first.rig) << first.problem;
  const std::string saved = EncodeRig(*first.rig, "2026-12-08T09:00:00.000Z");
  const RigDecode again = DecodeRig(saved);
  ASSERT_TRUE(again.rig) << again.problem << "\n" << saved;
  ASSERT_EQ(again.rig->devices.size(), 2u);
  const RigEntry& e = again.rig->devices[0];
  EXPECT_EQ(SerialText(e.serial), "2122232425262728292A2B");
  EXPECT_EQ(e.mac, kMacA);
  EXPECT_EQ(e.deviceId, 0x3680);
  EXPECT_EQ(e.label, "Truss 3 \"SR\"\xC3\xA9");
  ASSERT_EQ(e.extra.size(), 1u);
  EXPECT_EQ(EncodeJsonNode(e.extra[0].value), R"({"universe":3,"patch":[1,2.5e3,true]})");
  ASSERT_EQ(again.rig->extra.size(), 1u);
  EXPECT_EQ(again.rig->extra[0].name, "show");
  EXPECT_EQ(saved, EncodeRig(*again.rig, "2026-12-08T09:00:00.000Z"));
}

// Which file a device takes: its entry's own, else its model's for its MCU,
// else its model's for every MCU; a guess never. A re-declaration replaces
// one declaration and keeps what a person added to it and the others.
TEST(RigFirmware, EachDeviceTakesItsOwnFileElseItsModelsAndNeverAGuess) {
  const auto entry = [](const char* file, const char* model, const char* mcu) {
    const auto code = [](const char* name, const char* value) {
      return value ? std::string(", \"") + name + "\": \"" + value + "\"" : std::string();
    };
    return std::string(R"({"file": ")") + file + R"(", "sha256": ")" + kHash +
           R"(", "version": "3.04")" + code("model", model) + code("mcu", mcu) + "}";
  };
  const std::string text =
      R"({"format": 1, "type": "quorvik-rig", "firmware": [)" + entry("a.bin", "0x3680", nullptr) +
      "," + entry("b.bin", "0x1601", "0x0002") + "," + entry("c.bin", "0x1601", "0x0003") +
      R"(], "devices": [{"serial": "21"}, {"serial": "31", "firmware": )" +
      entry("own.bin", nullptr, nullptr) + R"(, "allowDowngrade": true}]})";
  RigDecode decoded = DecodeRig(text);
  ASSERT_TRUE(decoded.rig) << decoded.problem;
  const RigFirmwareDecode declared = DecodeRigFirmware(*decoded.rig);
  const struct {
    size_t entry;
    std::optional<uint16_t> model, mcu;
    std::string file, why;
  } cases[] = {
      {1, std::nullopt, std::nullopt, "own.bin", ""},
      {0, 0x3680, 33, "a.bin", ""},
      {0, 0x3680, std::nullopt, "a.bin", ""},
      {0, std::nullopt, std::nullopt, "", "its model is unknown while it runs"},
      {0, 0x1601, 3, "c.bin", ""},
      {0, 0x1601, 4, "", "nothing declared for its MCU 0x0004"},
      {0, 0x1601, std::nullopt, "", "files for several MCUs of model 0x1601"},
      {0, 0x9999, 1, "", ""},
  };
  for (const auto& c : cases) {
    const FirmwareChoice choice = ChooseFirmware(declared, c.entry, c.model, c.mcu);
    EXPECT_EQ(choice.firmware ? choice.firmware->file : "", c.file) << c.entry << " " << c.file;
    EXPECT_NE(choice.why.find(c.why), std::string::npos) << choice.why;
  }
  EXPECT_TRUE(ChooseFirmware(declared, 1, std::nullopt, std::nullopt).firmware->allowDowngrade);

  // The person's note on a declaration survives its replacement.
  Rig rig = *decoded.rig;
  rig.extra[0].value.items[0].members.push_back({"note", JsonNode{}});
  DeclareFirmware(rig, {0x3680, std::nullopt, "fw/a2.bin", std::string(64, 'b'), 0x0305, false});
  DeclareFirmware(rig, {0x0001, std::nullopt, "k.bin", kHash, 0x0100, false});
  const std::string saved = EncodeRig(rig, "2026-12-08T09:00:00.000Z");
  EXPECT_NE(saved.find(R"(  "firmware": [)"
                       "\n"
                       R"(    {"file":"fw/a2.bin","sha256":"bbbb)"),
            std::string::npos)
      << saved;
  EXPECT_NE(saved.find(R"("version":"3.05","model":"0x3680","note":null})"), std::string::npos);
  const RigDecode again = DecodeRig(saved);
  ASSERT_TRUE(again.rig) << again.problem;
  const RigFirmwareDecode now = DecodeRigFirmware(*again.rig);
  ASSERT_EQ(now.models.size(), 4u);
  EXPECT_EQ(now.models[0].version, 0x0305);
  EXPECT_EQ(now.models[3].model, 0x0001);

  EXPECT_EQ(FirmwarePathOf("/srv/show/rig.json", "fw/a.bin"), "/srv/show/fw/a.bin");
  EXPECT_EQ(FirmwarePathOf("/srv/show/rig.json", "/opt/a.bin"), "/opt/a.bin");
  EXPECT_EQ(FirmwareNameFor("/srv/show/rig.json", "/srv/show/fw/../fw/a.bin"), "fw/a.bin");
  EXPECT_EQ(FirmwareNameFor("/srv/show/rig.json", "/srv/other/a.bin"), "/srv/other/a.bin");
  for (const auto& [version, value] :
       std::vector<std::pair<std::string, std::optional<uint16_t>>>{{"3.04", 0x0304},
                                                                    {"255.99", 0xFF63},
                                                                    {"0.00", 0},
                                                                    {"256.00", std::nullopt},
                                                                    {"3.4", std::nullopt},
                                                                    {"3.040", std::nullopt},
                                                                    {".04", std::nullopt},
                                                                    {"a.04", std::nullopt},
                                                                    {"3,04", std::nullopt}})
    EXPECT_EQ(ParseVersionText(version), value) << version;
}

// An editor may save some text in Latin-1: that text reads as such, the
// UTF-8 beside it stays, and a mistake after it is shown where the person
// sees it in the file.
TEST(RigFile, TextSavedInLatin1ReadsAndMistakesAfterItArePlacedRight) {
  const RigDecode mixed = DecodeRig(
      RigText("{\"serial\": \"21\", \"label\": \"B\xC3\xBChne\", \"location\": \"Z\xFCrich\"}"));
  ASSERT_TRUE(mixed.rig) << mixed.problem;
  EXPECT_EQ(mixed.rig->devices[0].label, "B\xC3\xBChne");
  EXPECT_EQ(mixed.rig->devices[0].location, "Z\xC3\xBCrich");
  const std::string problem = DecodeRig("{\"type\": \"Z\xFCrich\", x}").problem;
  EXPECT_NE(problem.find("line 1, column 20"), std::string::npos) << problem;
}

TEST(RigFile, AReSaveKeepsLabelsAndTheDevicesThatDidNotAnswer) {
  Rig old;
  old.devices = {Entry(Serial(0x21, 11), kMacA, "1.02", "app", "Truss 3 SR"),
                 Entry({}, kMacB, "2.00", "boot", "FOH rack"),
                 Entry(Serial(0x51, 11), kMacC, "1.00", "app", "Truss 5")};
  old.devices[0].deviceId = 0x3680;
  old.devices[0].location = "Stage right";
  const std::vector<DeviceRecord> listed = {
      Device(Serial(0x61, 11), {2, 0, 0, 0, 0, 6}, 0x0100),
      // The first device, now in its loader, which pads its serial.
      Device(Serial(0x21, 11, 5), kMacA, 0x0105, 0x0381),
      Device({}, kMacB, 0x0201, 1),
      Unit(1),
      Device({}, kPlaceholderMac, 0x0100, 1),
      // The first device again, still answering from its application.
      Device(Serial(0x21, 11), kMacA, 0x0102),
  };
  const RigMerge merge = MergeRig(old, listed);
  EXPECT_EQ(merge.added, 1);
  EXPECT_EQ(merge.updated, 2);
  EXPECT_EQ(merge.kept, 1);
  EXPECT_EQ(merge.leftOut, 1);
  const auto& d = merge.rig.devices;
  ASSERT_EQ(d.size(), 4u);
  EXPECT_EQ(d[0].label, "Truss 3 SR");
  EXPECT_EQ(d[0].location, "Stage right");
  EXPECT_EQ(d[0].version, "1.05");
  EXPECT_EQ(d[0].mode, "boot");
  EXPECT_EQ(d[0].serial.size(), 16u);
  EXPECT_EQ(d[1].label, "FOH rack");
  EXPECT_EQ(d[1].version, "2.01");
  EXPECT_EQ(d[2].label, "Truss 5");
  EXPECT_EQ(d[2].version, "1.00");
  EXPECT_EQ(SerialText(d[3].serial), "6162636465666768696A6B");
  EXPECT_EQ(d[3].label, "");

  // A running device does not report its model code; the loader's stays.
  const std::vector<DeviceRecord> running = {Device(Serial(0x21, 11), kMacA, 0x0102)};
  const RigMerge back = MergeRig(merge.rig, running);
  EXPECT_EQ(back.rig.devices[0].deviceId, 0x3680);
}

TEST(RigFile, AFileThatIsNoRigIsNeverReplaced) {
  char pattern[] = "/tmp/quorvik-rig-XXXXXX";
  const fs::path dir = ::mkdtemp(pattern);
  const std::vector<DeviceRecord> listed = {Device(Serial(0x21, 11), kMacA, 0x0102)};
  const std::string foreign = (dir / "notes.json").string();
  std::ofstream(foreign) << R"({"shopping": ["gaffer tape"]})";
  const RigSave refused = SaveRig(foreign, listed);
  EXPECT_NE(refused.problem.find("no Quorvik rig"), std::string::npos) << refused.problem;
  EXPECT_NE(refused.problem.find("left as it is"), std::string::npos);
  std::ifstream in(foreign);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
            R"({"shopping": ["gaffer tape"]})");

  const std::string rig = (dir / "rig.json").string();
  EXPECT_EQ(SaveRig(rig, listed).problem, "");
  ::chmod(rig.c_str(), 0444);
  EXPECT_NE(SaveRig(rig, listed).problem, "");
  const RigRead read = ReadRigFile(rig);
  ASSERT_TRUE(read.rig) << read.problem;
  EXPECT_EQ(read.rig->devices.size(), 1u);
  EXPECT_TRUE(ReadRigFile((dir / "none.json").string()).missing);
  EXPECT_FALSE(ReadRigFile(dir.string()).rig);
  fs::remove_all(dir);
}

TEST(RollCall, EachRigDeviceAndEachListedDeviceGetsOneStatus) {
  const auto P = RollCallStatus::kPresent, C = RollCallStatus::kChanged,
             M = RollCallStatus::kMissing, U = RollCallStatus::kUnexpected,
             H = RollCallStatus::kHidden;
  const struct {
    const char* what;
    std::vector<RigEntry> rig;
    std::vector<DeviceRecord> listed;
    std::string blackList;
    std::vector<RollCallStatus> expected;
  } cases[] = {
      {"the loader's padded serial is the running device's",
       {Entry(Serial(0x21, 11), kMacA, "1.05", "boot")},
       {Device(Serial(0x21, 11, 5), kMacB, 0x0105, 0x0381)},
       "",
       {P}},
      {"another version",
       {Entry(Serial(0x21, 11), kMacA, "1.02", "app")},
       {Device(Serial(0x21, 11), kMacA, 0x0103)},
       "",
       {C}},
      {"in its loader instead of running",
       {Entry(Serial(0x21, 11), kMacA, "1.02", "app")},
       {Device(Serial(0x21, 11), kMacA, 0x0102, 0x0381)},
       "",
       {C}},
      {"what the entry leaves out is not compared",
       {Entry(Serial(0x21, 11), {}, "", "")},
       {Device(Serial(0x21, 11), kMacA, 0x0102, 0x0381)},
       "",
       {P}},
      {"a serial is not matched by its MAC alone",
       {Entry(Serial(0x21, 11), kMacA, "1.02", "app")},
       {Device(Serial(0x31, 11), kMacA, 0x0102)},
       "",
       {M, U}},
      {"an entry without serial matches by its MAC",
       {Entry({}, kMacB, "2.00", "boot")},
       {Device({}, kMacB, 0x0200, 1)},
       "",
       {P}},
      {"unit rows are part of their device",
       {Entry(Serial(0x21, 8), kMacA, "3.01", "boot")},
       {Device(Serial(0x21, 8), kMacA, 0x0301, 0x0381), Unit(1), Unit(2)},
       "",
       {P}},
      {"black-listed in its loader, saved running",
       {Entry(Serial(0x21, 11), kMacA, "1.02", "app"), Entry(Serial(0x41, 11), kMacC, "", "")},
       {},
       "2122232425262728292a2b1112131415 (Matrix)",
       {H, M}},
      {"black-listed running, saved in its loader",
       {Entry(Serial(0x21, 16), kMacA, "1.05", "boot")},
       {},
       "2122232425262728292a2b (Matrix)",
       {H}},
  };
  for (const auto& c : cases) {
    Rig rig;
    rig.devices = c.rig;
    const RollCall call = CallRoll(rig, c.listed, CBlackListText(c.blackList));
    std::vector<RollCallStatus> got;
    for (const auto& line : call.lines) got.push_back(line.status);
    EXPECT_EQ(got, c.expected) << c.what;
    const bool clean = std::all_of(c.expected.begin(), c.expected.end(),
                                   [&](RollCallStatus s) { return s == P || s == H; });
    EXPECT_EQ(call.Passed(), clean) << c.what;
  }
}

TEST(RollCall, ALineSaysWhatWasExpectedAndWhatAnswered) {
  Rig rig;
  rig.devices = {Entry(Serial(0x21, 11), kMacA, "1.02", "app", "Truss 3 SR"),
                 Entry(Serial(0x31, 11), kMacB, "1.00", "app", "Truss 4")};
  rig.devices[1].model = "Dimmer";
  const std::vector<DeviceRecord> listed = {Device(Serial(0x61, 11), kMacC, 0x0100),
                                            Device(Serial(0x21, 11), kMacA, 0x0203)};
  const RollCall call = CallRoll(rig, listed, {});
  ASSERT_EQ(call.lines.size(), 3u);
  const RollCallLine& changed = call.lines[0];
  EXPECT_EQ(changed.row, 1);
  EXPECT_EQ(changed.label, "Truss 3 SR");
  EXPECT_EQ(changed.old, (RollCallState{"1.02", "app"}));
  EXPECT_EQ(changed.now, (RollCallState{"2.03", "app"}));
  const RollCallLine& missing = call.lines[1];
  EXPECT_EQ(missing.row, -1);
  EXPECT_EQ(missing.device, "Dimmer");
  EXPECT_EQ(missing.serial, "3132333435363738393A3B");
  EXPECT_EQ(missing.mac, "00-0A-95-00-00-31");
  EXPECT_FALSE(missing.now);
  EXPECT_EQ(call.lines[2].row, 0);
  EXPECT_FALSE(call.lines[2].old);
  EXPECT_EQ(RollCallSummary(call), "0 present, 1 changed, 1 missing, 1 unexpected, 0 hidden");
}

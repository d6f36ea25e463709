// Model names and the cells of the device list.

#include <gtest/gtest.h>

#include <cctype>
#include <set>

#include "devices/device_list.h"
#include "devices/device_types.h"

using namespace quorvik;

namespace {

TEST(DeviceTypeCatalogue, ThirtyFiveCodesWithThirtyFourShortPrintableNames) {
  const auto catalogue = DeviceTypeCatalogue();
  ASSERT_EQ(catalogue.size(), 35u);
  std::set<uint16_t> codes;
  std::set<std::string_view> names;
  for (const DeviceType& t : catalogue) {
    codes.insert(t.code);
    names.insert(t.displayName);
    EXPECT_LE(t.displayName.size(), 26u) << t.displayName;
    for (char c : t.displayName) EXPECT_TRUE(std::isprint(static_cast<unsigned char>(c)));
  }
  EXPECT_EQ(codes.size(), 35u);
  EXPECT_EQ(names.size(), 34u);
  EXPECT_EQ(DeviceTypeName(0x5244, 0), DeviceTypeName(0x5344, 0));
}

TEST(DeviceTypeCatalogue, UnknownCodesAndSlaveSuffixes) {
  EXPECT_EQ(DeviceTypeName(0x0000, 0), "Unknown (0x0000)");
  EXPECT_EQ(DeviceTypeName(0xFFFF, 0), "Unknown (0xffff)");
  for (uint16_t neighbour : {0x0004, 0x0465, 0x3107, 0x9309})
    EXPECT_EQ(DeviceTypeName(neighbour, 0).rfind("Unknown (0x", 0), 0u) << neighbour;

  const std::string backup = DeviceTypeName(kSlaveNumberedType, 0);
  EXPECT_EQ(backup.find("Slave"), std::string::npos);
  EXPECT_EQ(DeviceTypeName(kSlaveNumberedType, 1), backup + " (Slave1)");
  EXPECT_EQ(DeviceTypeName(kSlaveNumberedType, 255), backup + " (Slave255)");
  EXPECT_EQ(DeviceTypeName(0x3105, 2), DeviceTypeName(0x3105, 0));
}

TEST(DeviceListCells, VersionSerialAndMacFormats) {
  EXPECT_EQ(FormatVersion(0x0105), "1.05");
  EXPECT_EQ(FormatVersion(0x020A), "2.10");
  EXPECT_EQ(FormatVersion(0x0A63), "10.99");
  EXPECT_EQ(FormatVersion(0x0163), "1.99");
  EXPECT_EQ(FormatVersion(0x0164), "");
  EXPECT_EQ(FormatVersion(0x0000), "0.00");

  DeviceRecord r;
  r.loaderType = 1;
  r.identityLength = 11;
  for (int i = 0; i < 11; ++i) r.identity[i] = static_cast<uint8_t>(i + 1);
  EXPECT_EQ(FormatSerial(r), "0102030405060708090A0B");
  r.identityLength = 0;
  EXPECT_EQ(FormatSerial(r), "");

  r.mac = {0xab, 0xcd, 0xef, 0x01, 0x02, 0x03};
  EXPECT_EQ(FormatMac(r), "AB-CD-EF-01-02-03");
  r.mac = {0x00, 0x60, 0x35, 0x00, 0x00, 0x00};
  EXPECT_EQ(FormatMac(r), "Not assigned");
  r.mac = {};
  r.identityLength = 11;
  EXPECT_EQ(FormatMac(r), "");  // never the serial number

  DeviceRecord app = r;
  app.loaderType = 0;
  app.mac = {0x00, 0x60, 0x35, 0x00, 0x00, 0x00};
  EXPECT_EQ(FormatMac(app), "00-60-35-00-00-00");
  app.mac = {};
  EXPECT_EQ(FormatMac(app), "00-00-00-00-00-00");
}

TEST(DeviceListRows, OneRowPerUsedRecordWithBootloaderNamesStored) {
  DeviceTable table;
  ClearDeviceTable(table);
  table[0].loaderType = 0x0300;
  table[0].version = 0x0102;
  table[0].deviceId = kSlaveNumberedType;
  table[0].SetName("stale");
  table[1] = table[0];
  table[1].slaveNumber = 2;
  table[2].loaderType = 0;
  table[2].version = 0x0100;  // application mode, no name reported
  table[3].version = 0x0200;
  table[3].SetName("Dimmer %s;\xE9");

  const auto rows = BuildDeviceRows(table);
  ASSERT_EQ(rows.size(), 4u);
  const std::string backup = DeviceTypeName(kSlaveNumberedType, 0);
  EXPECT_EQ(rows[0].device, backup);
  EXPECT_EQ(table[0].Name(), backup);
  EXPECT_EQ(rows[1].device, backup + " (Slave2)");
  EXPECT_EQ(table[1].Name(), backup + " (Slave2)");
  EXPECT_EQ(rows[2].device, "Unknown (0x0000)");
  EXPECT_EQ(table[2].Name(), "");  // the fallback is shown, not stored
  EXPECT_EQ(rows[3].device, "Dimmer %s;\xE9");
  EXPECT_EQ(rows[3].version, "2.00");
}

TEST(DeviceListRows, FactoryResetIsOfferedInApplicationModeOrByFlag) {
  DeviceRecord r;
  EXPECT_TRUE(CanFactoryReset(r));
  r.loaderType = 1;
  EXPECT_FALSE(CanFactoryReset(r));
  r.loaderFlags = 0x80;
  EXPECT_FALSE(CanFactoryReset(r));
  r.loaderFlags = 0x81;
  EXPECT_TRUE(CanFactoryReset(r));
}

}  // namespace

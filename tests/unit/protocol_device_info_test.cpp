#include "support/engine_fixture.h"

#include "base/host.h"
#include "protocol/device_info.h"

namespace {

using DeviceInfoRead = SimulatedScanner;

void ExpectFullRecord(const CDeviceInfo& info, const SimConfig& config)
{
    EXPECT_EQ(info.modelCode, config.modelCode);
    EXPECT_EQ(info.serialNumber, config.serialNumber);
    EXPECT_EQ(info.productionDate, DosDateToFileTime(config.productionDate));
    EXPECT_EQ(info.hwVersionAtmega, config.atmega.hardware);
    EXPECT_EQ(info.hwVersionBlackfin, config.blackfin.hardware);
    EXPECT_EQ(info.loaderVersionAtmega, config.atmega.loader);
    EXPECT_EQ(info.loaderVersionBlackfin, config.blackfin.loader);
    EXPECT_EQ(info.appVersionAtmega, config.atmega.application);
    EXPECT_EQ(info.appVersionBlackfin, config.blackfin.application);
    EXPECT_EQ(info.appVersionBlackfinExt, config.blackfin.applicationExt);
    EXPECT_TRUE(info.applicationRead);
}

TEST_F(DeviceInfoRead, ScannerInApplicationIsReturnedToIt)
{
    SimConfig config;
    config.modelCode = 209;
    CSimScanner& scanner = Attach(config);
    const unsigned char bit04[4] = {0x10, 0, 0, 0};
    ASSERT_EQ(protocol.WriteModeRegister(bit04), 0);
    const unsigned commandsBefore = scanner.CommandsReceived(CMD_MODE_REGISTER);
    CDeviceInfo info;
    ReadDeviceInfo(protocol, info);
    ExpectFullRecord(info, config);
    EXPECT_EQ(scanner.Mode(host.NowUs()), MODE_APPLICATION);
    EXPECT_EQ(scanner.Restarts(), 2u);

    // Each part reads the register once and selects both processors from that read:
    // switch (other bits kept), Atmega, Blackfin in the loader; the same in the
    // application. A restart brings the register back with its mode bits only.
    const auto& writes = scanner.ModeRegisterWrites();
    ASSERT_EQ(writes.size(), 7u);
    const unsigned char byte0[] = {0x10, 0x12, 0x22, 0x02, 0x00, 0x20, 0x00};
    for (size_t i = 0; i < writes.size(); ++i) {
        EXPECT_EQ(writes[i][0], byte0[i]) << "write " << i;
        EXPECT_EQ(writes[i][1], writes[i][0] & 0x02) << "write " << i;
    }
    // The first read, two per switch (before it and the poll that finds the new mode),
    // one per part, and one behind each of the four checked writes.
    const unsigned reads = scanner.CommandsReceived(CMD_MODE_REGISTER) - commandsBefore - 6;
    EXPECT_EQ(reads, 1u + 2u * 2u + 2u + 4u);
}

TEST_F(DeviceInfoRead, ScannerInLoaderIsReturnedToIt)
{
    SimConfig config;
    config.startMode = MODE_LOADER;
    CSimScanner& scanner = Attach(config);
    CDeviceInfo info;
    ReadDeviceInfo(protocol, info);
    ExpectFullRecord(info, config);
    EXPECT_EQ(scanner.Mode(host.NowUs()), MODE_LOADER);
}

TEST_F(DeviceInfoRead, FailingApplicationPartLeavesQuestionMarks)
{
    CSimScanner& scanner = Attach();
    scanner.AddFault({CMD_READ_MEMORY, SimFault::ErrorStatus, 100, 115});
    CDeviceInfo info;
    ReadDeviceInfo(protocol, info);
    EXPECT_FALSE(info.applicationRead);
    EXPECT_EQ(info.loaderVersionBlackfin, scanner.Config().blackfin.loader);
    EXPECT_NE(DeviceInfoText(info).find("Заводской номер\t\t\t: ?"), std::string::npos);
}

TEST_F(DeviceInfoRead, IdentityFailureIsThrown)
{
    CSimScanner& scanner = Attach();
    scanner.AddFault({CMD_GET_INFO, SimFault::ErrorStatus, 1, 4});
    CDeviceInfo info;
    try {
        ReadDeviceInfo(protocol, info);
        FAIL() << "no failure";
    } catch (const test_exception& e) {
        EXPECT_EQ(e.Text(), "(4) Некорректные параметры в команде");
    }
}

TEST_F(DeviceInfoRead, SerialNumberOnlyInApplication)
{
    SimConfig config;
    config.serialNumber = 42;
    CSimScanner& scanner = Attach(config);
    uint32_t serial = 0;
    EXPECT_TRUE(ReadSerialNumber(protocol, serial, false));
    EXPECT_EQ(serial, 42u);

    unsigned char reg[4];
    ASSERT_EQ(protocol.ReadModeRegister(reg), 0);
    reg[0] |= 0x02;
    reg[1] |= 0x02;
    protocol.WriteModeRegister(reg);
    host.Sleep(scanner.Config().restartMs + 100);
    serial = 7;
    EXPECT_FALSE(ReadSerialNumber(protocol, serial, false));
    EXPECT_EQ(serial, 7u);
}

}  // namespace

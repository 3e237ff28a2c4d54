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
    CDeviceInfo info;
    ReadDeviceInfo(protocol, info);
    ExpectFullRecord(info, config);
    EXPECT_EQ(scanner.Mode(host.NowUs()), MODE_APPLICATION);
    EXPECT_EQ(scanner.Restarts(), 2u);
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

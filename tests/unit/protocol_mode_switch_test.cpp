#include "support/engine_fixture.h"

#include "base/host.h"
#include "protocol/mode_switch.h"

namespace {

using ModeSwitch = SimulatedScanner;

TEST_F(ModeSwitch, ScannerAlreadyInModeIsLeftAlone)
{
    CSimScanner& scanner = Attach();
    SwitchMode(protocol, MODE_APPLICATION, false);
    EXPECT_EQ(scanner.CommandsReceived(), 1u);
    EXPECT_EQ(ports.OpenCount(kPort), 1u);
    EXPECT_TRUE(device.IsOpen());
    EXPECT_EQ(scanner.Restarts(), 0u);
}

TEST_F(ModeSwitch, ErrorToFirstRegisterReadFailsWithoutWriting)
{
    CSimScanner& scanner = Attach();
    scanner.AddFault({CMD_MODE_REGISTER, SimFault::ErrorStatus, 1, 8});
    try {
        SwitchMode(protocol, MODE_LOADER, false);
        FAIL() << "no failure";
    } catch (const test_exception& e) {
        EXPECT_EQ(e.Text(), "(8) Команда не поддерживается");
    }
    EXPECT_EQ(scanner.CommandsReceived(CMD_MODE_REGISTER), 1u);
    EXPECT_EQ(scanner.Mode(host.NowUs()), MODE_APPLICATION);
}

TEST_F(ModeSwitch, OrdinaryPortReconnectsInNewModeWithSavedSettings)
{
    CSimScanner& scanner = Attach({}, 250);
    SwitchMode(protocol, MODE_LOADER, false);
    EXPECT_EQ(scanner.Mode(host.NowUs()), MODE_LOADER);
    EXPECT_TRUE(device.IsOpen());
    EXPECT_EQ(device.GetTimeout(), 250u);
    EXPECT_EQ(device.GetBaudRate(), 9600u);
    EXPECT_GE(ports.OpenCount(kPort), 2u);
}

TEST_F(ModeSwitch, ScannerBackInOldModeIsAskedAgain)
{
    SimConfig config;
    config.backInOldModeOnce = true;
    CSimScanner& scanner = Attach(config);
    SwitchMode(protocol, MODE_LOADER, false);
    EXPECT_EQ(scanner.Mode(host.NowUs()), MODE_LOADER);
    EXPECT_EQ(scanner.Restarts(), 2u);
}

TEST_F(ModeSwitch, ScannerBackAtAnotherSpeedIsFound)
{
    SimConfig config;
    config.restartSpeedCode = 5;
    CSimScanner& scanner = Attach(config);
    SwitchMode(protocol, MODE_LOADER, false);
    EXPECT_EQ(scanner.Mode(host.NowUs()), MODE_LOADER);
    EXPECT_EQ(device.GetBaudRate(), 57600u);
}

TEST_F(ModeSwitch, LoaderWithoutBit37FailsAtTheLimit)
{
    SimConfig config;
    config.neverEntersLoader = true;
    Attach(config);
    const uint64_t start = host.NowMs();
    try {
        SwitchMode(protocol, MODE_LOADER, false);
        FAIL() << "no failure";
    } catch (const test_exception& e) {
        EXPECT_EQ(e.Text(), "Ошибка смены режима");
    }
    EXPECT_GE(host.NowMs() - start, 20000u);
    EXPECT_TRUE(device.IsOpen());
}

TEST_F(ModeSwitch, SilentScannerAfterTheLimitIsNoLink)
{
    CSimScanner& scanner = Attach();
    scanner.MutableConfig().restartMs = 60000;
    try {
        SwitchMode(protocol, MODE_LOADER, false);
        FAIL() << "no failure";
    } catch (const test_exception& e) {
        EXPECT_EQ(e.Text(), "(-1) Нет связи");
    }
}

TEST_F(ModeSwitch, StopDuringReconnectionLeavesWithStop)
{
    Attach();
    host.StopAtPump(3);
    EXPECT_THROW(SwitchMode(protocol, MODE_LOADER, false), stop_exception);
}

TEST_F(ModeSwitch, UsbScannerIsFollowedThroughReEnumeration)
{
    SimConfig config;
    config.usbCdc = true;
    CSimScanner& scanner = Attach(config, 700);
    ASSERT_TRUE(device.IsUsbCdc());
    SwitchMode(protocol, MODE_LOADER, false);
    EXPECT_TRUE(device.IsOpen());
    EXPECT_EQ(device.GetTimeout(), 700u);
    EXPECT_EQ(device.GetBaudRate(), 9600u);
    EXPECT_EQ(scanner.Mode(host.NowUs()), MODE_LOADER);
    // The watch is down again: a second switch can arm it anew.
    SwitchMode(protocol, MODE_APPLICATION, false);
    EXPECT_EQ(scanner.Mode(host.NowUs()), MODE_APPLICATION);
    EXPECT_EQ(scanner.Restarts(), 2u);
}

// The scanner carries out the switch and its port goes before the reply reaches the
// host: that vanishing is the restart, followed as any other, not a pulled cable.
TEST_F(ModeSwitch, UsbScannerGoneBeforeItsReplyIsFollowed)
{
    SimConfig config;
    config.usbCdc = true;
    CSimScanner& scanner = Attach(config);
    scanner.AddFault({CMD_MODE_REGISTER, SimFault::NoReply, 3});   // the first read: no link
    scanner.AddFault({CMD_MODE_REGISTER, SimFault::LostReply, 1});  // the switch itself
    SwitchMode(protocol, MODE_LOADER, false);
    EXPECT_EQ(scanner.Mode(host.NowUs()), MODE_LOADER);
    EXPECT_EQ(scanner.Restarts(), 1u);
    EXPECT_TRUE(device.IsOpen());
}

TEST_F(ModeSwitch, UsbScannerIsReadBackAfterItsOwnPortReturns)
{
    SimConfig config;
    config.usbCdc = true;
    config.startMode = MODE_LOADER;
    config.backInOldModeOnce = true;
    config.restartMs = 5000;
    CSimScanner& scanner = Attach(config);
    // Another USB device arrives while the scanner is away: its port is not back yet.
    const uint64_t start = host.NowMs();
    host.At(start + 500, [this] { ports.PlugOtherUsbDevice(); });
    try {
        SwitchMode(protocol, MODE_APPLICATION, false);
        FAIL() << "no failure";
    } catch (const test_exception& e) {
        // Still in its loader: reported, and not restarted once more.
        EXPECT_EQ(e.Text(), "Ошибка смены режима");
    }
    EXPECT_GE(host.NowMs() - start, 5000u);
    EXPECT_TRUE(device.IsOpen());
    EXPECT_EQ(scanner.Mode(host.NowUs()), MODE_LOADER);
    EXPECT_EQ(scanner.Restarts(), 1u);
    EXPECT_EQ(scanner.ModeRegisterWrites().size(), 1u);
}

TEST_F(ModeSwitch, UsbWaitsRunOutWhenNoEventsArrive)
{
    SimConfig config;
    config.usbCdc = true;
    config.restartMs = 1000000;   // gone for good as far as the waits are concerned
    Attach(config);
    const uint64_t start = host.NowMs();
    EXPECT_THROW(SwitchMode(protocol, MODE_LOADER, false), CComDevice::CException);
    // At most two waits of 1000 rounds of 100 ms and the pause before the reopen.
    EXPECT_LE(host.NowMs() - start, 2 * 100000u + 1000u + 1000u);
}

TEST(ModeBits, SetModeBitsTouchesOnlyBits01And11)
{
    unsigned char reg[4] = {0xFD, 0xFD, 0x12, 0x80};
    SetModeBits(reg, MODE_LOADER);
    EXPECT_EQ(reg[0], 0xFF);
    EXPECT_EQ(reg[1], 0xFF);
    SetModeBits(reg, MODE_APPLICATION);
    EXPECT_EQ(reg[0], 0xFD);
    EXPECT_EQ(reg[1], 0xFD);
    EXPECT_EQ(reg[2], 0x12);
    EXPECT_EQ(reg[3], 0x80);
}

}  // namespace

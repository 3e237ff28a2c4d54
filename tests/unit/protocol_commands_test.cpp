#include <gtest/gtest.h>

#include "base/host.h"
#include "protocol/commands.h"
#include "protocol/scanner_protocol.h"
#include "sim/virtual_host.h"
#include "support/scripted_device.h"

namespace {

using Bytes = CScriptedDevice::Bytes;
using Reply = CScriptedDevice::Reply;

class CommandSet : public testing::Test {
protected:
    CommandSet() { protocol.SetDevice(&device); }

    template <class F>
    std::string FailureText(F action)
    {
        try {
            action();
        } catch (const test_exception& e) {
            return e.Text();
        }
        return "no failure";
    }

    CVirtualHost host;
    CScriptedDevice device{&host};
    CScannerProtocol protocol{host};
};

}  // namespace

TEST_F(CommandSet, WrappersSendTheirRequestBytes)
{
    device.SetResponder([](const Bytes& request) {
        switch (request[0]) {
        case CMD_GET_INFO:
            return CScriptedDevice::Ok({0, 1, 0, 2, 150});
        case CMD_MODE_REGISTER:
            return CScriptedDevice::Ok(request.size() == 1 ? Bytes{1, 2, 3, 4} : Bytes{});
        case CMD_BAUD_RATE:
            return CScriptedDevice::Ok(request.size() == 1 ? Bytes{5} : Bytes{});
        default:
            return CScriptedDevice::Ok(Bytes(16, 0xAB));
        }
    });
    unsigned char info[5], reg[4], code, id[16];
    const unsigned char newReg[4] = {0x02, 0x02, 0x00, 0x80};
    EXPECT_EQ(protocol.GetInfo(info, 1), 0);
    EXPECT_EQ(protocol.GetInfo(info, 0), 0);
    EXPECT_EQ(protocol.ReadModeRegister(reg), 0);
    EXPECT_EQ(protocol.WriteModeRegister(newReg), 0);
    EXPECT_EQ(protocol.ReadSpeedCode(&code), 0);
    EXPECT_EQ(protocol.WriteSpeedCode(6), 0);
    EXPECT_EQ(protocol.GetUniqueId(id, TRANSPORT_SERIAL), 0);
    const std::vector<Bytes> expected{
        {0x9E, 0x00}, {0x9E, 0x01}, {0x9F}, {0x9F, 0x02, 0x02, 0x00, 0x80},
        {0xA1},       {0xA1, 0x06}, {0xA2, 0x00}};
    EXPECT_EQ(device.Requests(), expected);
    EXPECT_EQ(info[4], 150);
    EXPECT_EQ(Bytes(reg, reg + 4), (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(code, 5);
    EXPECT_EQ(id[15], 0xAB);
}

TEST(SpeedCodes, TableAndItsExactReverse)
{
    const unsigned bauds[] = {2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600};
    for (int code = 0; code < 10; ++code)
        EXPECT_EQ(BaudFromCode(code), bauds[code]);
    EXPECT_EQ(BaudFromCode(10), 9600u);
    EXPECT_EQ(BaudFromCode(-1), 9600u);
    for (int code = 0; code < 10; ++code)
        EXPECT_EQ(CodeFromBaud(bauds[code]), code);
    EXPECT_EQ(CodeFromBaud(14400), 2);
}

TEST_F(CommandSet, ProbeTellsSilenceFromAnErrorStatus)
{
    EXPECT_FALSE(Probe(protocol));
    device.Script(CMD_GET_INFO, CScriptedDevice::Ok({0, 0, 0, 0, 77}));
    unsigned char model = 0;
    EXPECT_TRUE(Probe(protocol, &model));
    EXPECT_EQ(model, 77);
    device.Script(CMD_GET_INFO, CScriptedDevice::Status(115));
    EXPECT_EQ(FailureText([&] { Probe(protocol); }), "(115) Команда не поддерживается в данном режиме");
}

TEST_F(CommandSet, ScannerWithoutTheSpeedCommandRunsAtCode4)
{
    device.Script(CMD_BAUD_RATE, CScriptedDevice::Status(8), 2);
    EXPECT_EQ(GetSpeed(protocol, true), 4);
    EXPECT_EQ(FailureText([&] { GetSpeed(protocol, false); }), "(8) Команда не поддерживается");

    // So a change to 4 is no change at all.
    device.Script(CMD_BAUD_RATE, CScriptedDevice::Status(8));
    const size_t before = device.Requests().size();
    SetSpeed(protocol, 4, false);
    EXPECT_EQ(device.Requests().size(), before + 1);
}

TEST_F(CommandSet, SetSpeedToTheCurrentCodeSendsNoWrite)
{
    device.Script(CMD_BAUD_RATE, CScriptedDevice::Ok({3}));
    SetSpeed(protocol, 3, false);
    EXPECT_EQ(device.Requests(), std::vector<Bytes>{{0xA1}});
}

TEST_F(CommandSet, SetSpeedWaitsFindsTheScannerAndChecksTheNewCode)
{
    device.Script(CMD_BAUD_RATE, CScriptedDevice::Ok({2}));
    device.Script(CMD_BAUD_RATE, CScriptedDevice::Ok());
    device.Script(CMD_GET_INFO, CScriptedDevice::Ok({0, 0, 0, 0, 1}));
    device.Script(CMD_BAUD_RATE, CScriptedDevice::Ok({5}));
    SetSpeed(protocol, 5, false);
    EXPECT_EQ(device.Opcodes(), (Bytes{0xA1, 0xA1, 0x9E, 0xA1}));
    EXPECT_EQ(device.Requests()[1], (Bytes{0xA1, 5}));
    EXPECT_EQ(host.NowMs(), 50u);
    EXPECT_GT(host.PumpCount(), 0u);
}

TEST_F(CommandSet, SetSpeedFailures)
{
    // Unsupported change: tolerated when asked, otherwise the operator hears of it.
    device.Script(CMD_BAUD_RATE, CScriptedDevice::Ok({2}));
    device.Script(CMD_BAUD_RATE, CScriptedDevice::Status(8));
    EXPECT_NO_THROW(SetSpeed(protocol, 6, true));
    device.Script(CMD_BAUD_RATE, CScriptedDevice::Ok({2}));
    device.Script(CMD_BAUD_RATE, CScriptedDevice::Status(8));
    EXPECT_EQ(FailureText([&] { SetSpeed(protocol, 6, false); }), "(8) Команда не поддерживается");

    // The scanner is gone after the change.
    device.Script(CMD_BAUD_RATE, CScriptedDevice::Ok({2}));
    device.Script(CMD_BAUD_RATE, CScriptedDevice::Ok());
    EXPECT_EQ(FailureText([&] { SetSpeed(protocol, 6, false); }), "(-1) Нет связи");

    // It answers, but at the old speed code.
    device.Script(CMD_BAUD_RATE, CScriptedDevice::Ok({2}));
    device.Script(CMD_BAUD_RATE, CScriptedDevice::Status(4));
    device.Script(CMD_GET_INFO, CScriptedDevice::Ok({0, 0, 0, 0, 1}));
    device.Script(CMD_BAUD_RATE, CScriptedDevice::Ok({2}));
    EXPECT_EQ(FailureText([&] { SetSpeed(protocol, 6, false); }), "Ошибка смены скорости");
    EXPECT_EQ(device.ScriptLeft(), 0u);
}

TEST_F(CommandSet, StopDuringTheSpeedChangeWaitIsHonoured)
{
    device.Script(CMD_BAUD_RATE, CScriptedDevice::Ok({2}));
    device.Script(CMD_BAUD_RATE, CScriptedDevice::Ok());
    host.StopAtPump(10);
    EXPECT_THROW(SetSpeed(protocol, 5, false), stop_exception);
    EXPECT_EQ(device.Opcodes(), (Bytes{0xA1, 0xA1}));
}

TEST(ModeRegister, IsInModeReadsBothModeBitsAndTheLoaderFlag)
{
    const unsigned char application[4] = {0x00, 0x00, 0xFF, 0x80};
    const unsigned char loader[4] = {0x02, 0x02, 0x00, 0x80};
    const unsigned char loaderInactive[4] = {0x02, 0x02, 0x00, 0x00};
    const unsigned char halfway[4] = {0x02, 0x00, 0x00, 0x80};
    EXPECT_TRUE(IsInMode(application, MODE_APPLICATION));
    EXPECT_FALSE(IsInMode(application, MODE_LOADER));
    EXPECT_TRUE(IsInMode(loader, MODE_LOADER));
    EXPECT_FALSE(IsInMode(loader, MODE_APPLICATION));
    EXPECT_FALSE(IsInMode(loaderInactive, MODE_LOADER));
    EXPECT_FALSE(IsInMode(loaderInactive, MODE_APPLICATION));
    EXPECT_FALSE(IsInMode(halfway, MODE_LOADER));
    EXPECT_FALSE(IsInMode(halfway, MODE_APPLICATION));
}

TEST_F(CommandSet, CheckedWriteIgnoresOnlyTheScannersOwnBitsOfByte2)
{
    const unsigned char reg[4] = {0x22, 0x02, 0x01, 0x80};
    device.Script(CMD_MODE_REGISTER, CScriptedDevice::Ok());
    device.Script(CMD_MODE_REGISTER, CScriptedDevice::Ok({0x22, 0x02, 0xFD, 0x80}));
    EXPECT_NO_THROW(WriteModeRegisterChecked(protocol, reg));
    EXPECT_EQ(device.Requests()[0], (Bytes{0x9F, 0x22, 0x02, 0x01, 0x80}));

    const Bytes differing[] = {{0x22, 0x02, 0x03, 0x80}, {0x22, 0x02, 0x00, 0x80},
                               {0x02, 0x02, 0x01, 0x80}, {0x22, 0x02, 0x01, 0x00}};
    for (const Bytes& readBack : differing) {
        device.Script(CMD_MODE_REGISTER, CScriptedDevice::Ok());
        device.Script(CMD_MODE_REGISTER, CScriptedDevice::Ok(readBack));
        EXPECT_EQ(FailureText([&] { WriteModeRegisterChecked(protocol, reg); }),
                  "Ошибка смены состояния");
    }

    device.Script(CMD_MODE_REGISTER, CScriptedDevice::Status(115));
    EXPECT_EQ(FailureText([&] { WriteModeRegisterChecked(protocol, reg); }),
              "(115) Команда не поддерживается в данном режиме");
    device.Script(CMD_MODE_REGISTER, CScriptedDevice::Ok());
    EXPECT_EQ(FailureText([&] { WriteModeRegisterChecked(protocol, reg); }), "(-1) Нет связи");
}

TEST_F(CommandSet, UniqueIdGoesOnlyTheSerialWay)
{
    unsigned char id[16];
    EXPECT_EQ(protocol.GetUniqueId(id, 0), RESULT_BAD_REQUEST);
    EXPECT_TRUE(device.Calls().empty());
}

#include <gtest/gtest.h>

#include "protocol/scanner_protocol.h"
#include "sim/virtual_host.h"
#include "support/scripted_device.h"

namespace {

using Bytes = CScriptedDevice::Bytes;

class ProtocolExecute : public testing::Test {
protected:
    ProtocolExecute() { protocol.SetDevice(&device); }

    int GetInfo(unsigned char* reply, unsigned replySize = 5)
    {
        const unsigned char selector = 0;
        return protocol.Execute(CMD_GET_INFO, reply, replySize, &selector, 1);
    }

    CVirtualHost host;
    CScriptedDevice device{&host, 100};
    CScannerProtocol protocol{host};
};

}  // namespace

TEST_F(ProtocolExecute, RequestIsFramedAfterClearingAndPurging)
{
    device.Script(CMD_GET_INFO, CScriptedDevice::Ok({0x34, 0x12, 0x78, 0x56, 150}));
    unsigned char reply[5] = {};
    ASSERT_EQ(GetInfo(reply), 0);
    // Start byte, LEN, opcode, selector, and LEN ^ opcode ^ selector.
    EXPECT_EQ(device.Written(), (Bytes{0x02, 0x02, 0x9E, 0x00, 0x02 ^ 0x9E}));
    EXPECT_EQ(Bytes(reply, reply + 5), (Bytes{0x34, 0x12, 0x78, 0x56, 150}));
    const std::vector<std::string> start(device.Calls().begin(), device.Calls().begin() + 4);
    EXPECT_EQ(start, (std::vector<std::string>{"clear", "purge-in", "purge-out", "write"}));
}

TEST_F(ProtocolExecute, LargestRequestFillsThePacketBuffer)
{
    Bytes params(kMaxParamBytes, 0xA5);
    device.Script(CMD_WRITE_MEMORY, CScriptedDevice::Ok());
    EXPECT_EQ(protocol.Execute(CMD_WRITE_MEMORY, nullptr, 0, params.data(), kMaxParamBytes), 0);
    ASSERT_EQ(device.Written().size(), 256u);
    EXPECT_EQ(device.Written()[1], 253);
}

TEST_F(ProtocolExecute, OversizedOrInconsistentRequestsAreRefusedBeforeTheDevice)
{
    Bytes params(kMaxParamBytes + 1, 0);
    EXPECT_EQ(protocol.Execute(CMD_WRITE_MEMORY, nullptr, 0, params.data(), kMaxParamBytes + 1),
              RESULT_BAD_REQUEST);
    EXPECT_EQ(protocol.Execute(CMD_WRITE_MEMORY, nullptr, 0, nullptr, 4), RESULT_BAD_REQUEST);
    EXPECT_EQ(protocol.Execute(CMD_GET_INFO, nullptr, 5, nullptr, 0), RESULT_BAD_REQUEST);
    // The framing itself refuses what no packet holds.
    EXPECT_THROW(protocol.SendFrame(params.data(), kMaxFrameData + 1), CBasicDevice::CException);
    EXPECT_THROW(protocol.SendFrame(params.data(), 0), CBasicDevice::CException);
    EXPECT_TRUE(device.Calls().empty());
}

TEST_F(ProtocolExecute, ReplyOf256DataBytesComesWithLenZero)
{
    Bytes data(256);
    for (unsigned i = 0; i < 256; ++i)
        data[i] = static_cast<uint8_t>(i * 7 + 1);
    const Bytes frame = CScriptedDevice::Frame(data);
    ASSERT_EQ(frame[1], 0);
    device.Feed(frame);
    unsigned char buffer[256];
    unsigned size = sizeof buffer;
    protocol.ReceiveFrame(buffer, &size);
    EXPECT_EQ(size, 256u);
    EXPECT_EQ(Bytes(buffer, buffer + 256), data);

    // The same through a command: a 254-byte payload is the largest reply.
    Bytes payload(254, 0x3C);
    device.Script(CMD_READ_MEMORY, CScriptedDevice::Ok(payload));
    unsigned char reply[254];
    const unsigned char params[5] = {0, 0, 0, 0, 254};
    EXPECT_EQ(protocol.Execute(CMD_READ_MEMORY, reply, 254, params, 5), 0);
    EXPECT_EQ(Bytes(reply, reply + 254), payload);
}

TEST_F(ProtocolExecute, ReceiveStoresNoMoreThanTheCapacity)
{
    device.Feed(CScriptedDevice::Frame({1, 2, 3, 4, 5}));
    unsigned char buffer[3];
    unsigned size = sizeof buffer;
    protocol.ReceiveFrame(buffer, &size);
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(Bytes(buffer, buffer + 3), (Bytes{1, 2, 3}));
    EXPECT_EQ(device.Pending(), 0u);
}

TEST_F(ProtocolExecute, OneNoiseByteIsToleratedAndTwoAreNot)
{
    const Bytes frame = CScriptedDevice::Frame({0x9E, 0, 1, 2, 3, 4, 5});
    unsigned char buffer[256];
    unsigned size = sizeof buffer;
    Bytes line{0xFF};
    line.insert(line.end(), frame.begin(), frame.end());
    device.Feed(line);
    protocol.ReceiveFrame(buffer, &size);
    EXPECT_EQ(size, 7u);

    line.insert(line.begin(), 0x55);
    device.Feed(line);
    size = sizeof buffer;
    EXPECT_THROW(protocol.ReceiveFrame(buffer, &size), CBasicDevice::CException);
    // The rest of the broken reply was swallowed without waiting for a time-out.
    EXPECT_EQ(device.Pending(), 0u);
    EXPECT_EQ(device.Timeouts(), 0u);
}

TEST_F(ProtocolExecute, BrokenReplyCostsOneAttempt)
{
    device.Script(CMD_GET_INFO, CScriptedDevice::Ok({1, 2, 3, 4, 5}).WithNoise({0x55, 0x66}));
    device.Script(CMD_GET_INFO, CScriptedDevice::Ok({1, 2, 3, 4, 5}).WithBadChecksum());
    device.Script(CMD_GET_INFO, CScriptedDevice::Ok({1, 2, 3, 4, 6}).WithNoise({0x55}));
    unsigned char reply[5];
    EXPECT_EQ(GetInfo(reply), 0);
    EXPECT_EQ(reply[4], 6);
    EXPECT_EQ(device.Requests().size(), 3u);
}

TEST_F(ProtocolExecute, WrongEchoIsRetriedWithoutPauseThenNoLink)
{
    device.Script(-1, CScriptedDevice::Ok({1, 2, 3, 4, 5}).WithEcho(0x9D), 3);
    unsigned char reply[5];
    EXPECT_EQ(GetInfo(reply), RESULT_NO_LINK);
    EXPECT_EQ(device.Requests().size(), 3u);
    EXPECT_EQ(host.NowMs(), 0u);
}

// A scanner that is there but busy is told as busy, not as a missing link (which sends
// the operator to the cable).
TEST_F(ProtocolExecute, BusyThreeTimesIsTheBusyStatusAfterThreePauses)
{
    device.Script(-1, CScriptedDevice::Busy(), 3);
    unsigned char reply[5];
    const int result = GetInfo(reply);
    EXPECT_EQ(result, STATUS_BUSY);
    EXPECT_EQ(device.Requests().size(), 3u);
    EXPECT_EQ(host.NowMs(), 180u);
    try {
        CheckResult(result);
        FAIL();
    } catch (const test_exception& e) {
        EXPECT_EQ(e.Text(), "(2) Команда не может быть выполнена в данный момент");
    }

    device.Script(-1, CScriptedDevice::Busy(), 2);
    device.Script(-1, CScriptedDevice::Ok({1, 2, 3, 4, 5}));
    EXPECT_EQ(GetInfo(reply), 0);
    EXPECT_EQ(host.NowMs(), 300u);
}

TEST_F(ProtocolExecute, WrongLengthIsFinal)
{
    unsigned char reply[5];
    device.Script(-1, CScriptedDevice::Ok({1, 2, 3, 4}));
    device.Script(-1, CScriptedDevice::Ok({1, 2, 3, 4, 5}));
    EXPECT_EQ(GetInfo(reply), RESULT_WRONG_LENGTH);
    EXPECT_EQ(device.Requests().size(), 1u);
    device.ClearScript();

    device.Script(-1, CScriptedDevice::Ok({1, 2, 3, 4, 5, 6}), 2);
    EXPECT_EQ(GetInfo(reply), RESULT_WRONG_LENGTH);
    EXPECT_EQ(device.Requests().size(), 2u);
    device.ClearScript();

    // A reply holding only the echo cannot carry a status.
    device.Script(-1, CScriptedDevice::Raw(CScriptedDevice::Frame({0x9E})));
    EXPECT_EQ(GetInfo(reply), RESULT_WRONG_LENGTH);
}

TEST_F(ProtocolExecute, ScannerStatusIsReturnedAtOnce)
{
    unsigned char reply[5];
    device.Script(-1, CScriptedDevice::Status(8), 3);
    EXPECT_EQ(GetInfo(reply), STATUS_NOT_SUPPORTED);
    EXPECT_EQ(device.Requests().size(), 1u);
    device.ClearScript();
    device.Script(-1, CScriptedDevice::Status(0xFF), 1);
    EXPECT_EQ(GetInfo(reply), 255);
}

TEST_F(ProtocolExecute, SilenceAndDeviceFailuresEndInNoLink)
{
    unsigned char reply[5];
    EXPECT_EQ(GetInfo(reply), RESULT_NO_LINK);
    EXPECT_EQ(device.Requests().size(), 3u);
    EXPECT_EQ(host.NowMs(), 300u);   // three read time-outs

    device.FailClears(3);
    const size_t before = device.Written().size();
    EXPECT_EQ(GetInfo(reply), RESULT_NO_LINK);
    EXPECT_EQ(device.Written().size(), before);

    device.FailWrites(2);
    device.Script(-1, CScriptedDevice::Ok({9, 9, 9, 9, 9}));
    EXPECT_EQ(GetInfo(reply), 0);
    EXPECT_EQ(reply[0], 9);
}

TEST_F(ProtocolExecute, LateReplyOfAnEarlierCommandIsDiscarded)
{
    device.Feed(CScriptedDevice::Frame({0x9E, 0, 7, 7, 7, 7, 7}));
    device.Script(-1, CScriptedDevice::Ok({1, 2, 3, 4, 5}));
    unsigned char reply[5];
    EXPECT_EQ(GetInfo(reply), 0);
    EXPECT_EQ(reply[0], 1);
}

TEST_F(ProtocolExecute, ExecuteViaSerialIsExecute)
{
    device.Script(-1, CScriptedDevice::Ok({1, 2, 3, 4, 5}));
    unsigned char reply[5];
    const unsigned char selector = 1;
    EXPECT_EQ(protocol.ExecuteVia(CMD_GET_INFO, reply, 5, &selector, 1, TRANSPORT_SERIAL), 0);
    EXPECT_EQ(device.Written(), (Bytes{0x02, 0x02, 0x9E, 0x01, 0x02 ^ 0x9E ^ 0x01}));
    EXPECT_EQ(protocol.ExecuteVia(CMD_GET_INFO, reply, 5, &selector, 1, 2), RESULT_BAD_REQUEST);
    EXPECT_EQ(device.Requests().size(), 1u);
}

TEST(ProtocolNoDevice, WithoutADeviceThereIsNoLink)
{
    CVirtualHost host;
    CScannerProtocol protocol(host);
    unsigned char code;
    EXPECT_EQ(protocol.Execute(CMD_BAUD_RATE, &code, 1, nullptr, 0), RESULT_NO_LINK);
}

TEST(ProtocolStatusText, EveryCodeHasItsText)
{
    EXPECT_STREQ(StatusText(0), "Ошибок нет");
    EXPECT_STREQ(StatusText(2), "Команда не может быть выполнена в данный момент");
    EXPECT_STREQ(StatusText(4), "Некорректные параметры в команде");
    EXPECT_STREQ(StatusText(8), "Команда не поддерживается");
    EXPECT_STREQ(StatusText(115), "Команда не поддерживается в данном режиме");
    EXPECT_STREQ(StatusText(144), "Неправильный размер блока");
    EXPECT_STREQ(StatusText(145), "Адрес вышел из допустимого диапазона");
    EXPECT_STREQ(StatusText(146), "Ошибка выравнивания блока");
    EXPECT_STREQ(StatusText(147), "Ошибка записи во флеш-память");
    EXPECT_STREQ(StatusText(-1), "Нет связи");
    EXPECT_STREQ(StatusText(-2), "Неверная длина ответа");
    EXPECT_STREQ(StatusText(1), "Неизвестная ошибка");
    EXPECT_STREQ(StatusText(-3), "Неизвестная ошибка");
}

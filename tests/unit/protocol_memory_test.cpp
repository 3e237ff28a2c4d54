#include <gtest/gtest.h>

#include <map>

#include "protocol/scanner_protocol.h"
#include "sim/virtual_host.h"
#include "support/scripted_device.h"

namespace {

using Bytes = CScriptedDevice::Bytes;

uint32_t AddressOf(const Bytes& request)
{
    return request[1] | (request[2] << 8) | (request[3] << 16) | (uint32_t(request[4]) << 24);
}

struct Progress {
    const void* buffer = nullptr;
    std::vector<unsigned> done;
    unsigned total = 0;
};

void RecordProgress(const void* buffer, unsigned done, unsigned total, void* user)
{
    Progress* p = static_cast<Progress*>(user);
    p->buffer = buffer;
    p->done.push_back(done);
    p->total = total;
}

// A scanner memory of plain bytes behind the two memory commands.
class ProtocolMemory : public testing::Test {
protected:
    ProtocolMemory()
    {
        protocol.SetDevice(&device);
        device.SetResponder([this](const Bytes& request) {
            const uint32_t address = AddressOf(request);
            if (request[0] == CMD_READ_MEMORY) {
                Bytes payload;
                for (unsigned i = 0; i < request[5]; ++i)
                    payload.push_back(memory.count(address + i) ? memory[address + i] : 0xFF);
                return CScriptedDevice::Ok(payload);
            }
            for (size_t i = 5; i < request.size(); ++i)
                memory[address + uint32_t(i - 5)] = request[i];
            return CScriptedDevice::Ok();
        });
    }

    CVirtualHost host;
    CScriptedDevice device{&host};
    CScannerProtocol protocol{host};
    std::map<uint32_t, uint8_t> memory;
};

}  // namespace

TEST_F(ProtocolMemory, SmallReadIsOneCommand)
{
    for (uint32_t i = 0; i < 8; ++i)
        memory[0xFD0000 + i] = uint8_t(0x10 + i);
    unsigned char buffer[8];
    EXPECT_EQ(protocol.ReadMemory(0xFD0000, buffer, 8, nullptr, nullptr, kMemoryChunk), 0);
    ASSERT_EQ(device.Requests().size(), 1u);
    EXPECT_EQ(device.Requests()[0], (Bytes{CMD_READ_MEMORY, 0x00, 0x00, 0xFD, 0x00, 8}));
    EXPECT_EQ(Bytes(buffer, buffer + 8), (Bytes{0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17}));
}

TEST_F(ProtocolMemory, LargeTransfersGoInChunksWithProgress)
{
    Bytes source(300);
    for (unsigned i = 0; i < 300; ++i)
        source[i] = uint8_t(i * 13);
    Progress progress;
    EXPECT_EQ(protocol.WriteMemory(0x1000, source.data(), 300, RecordProgress, &progress, 128), 0);
    ASSERT_EQ(device.Requests().size(), 3u);
    EXPECT_EQ(AddressOf(device.Requests()[2]), 0x1100u);
    EXPECT_EQ(device.Requests()[2].size(), 1u + 4u + 44u);
    EXPECT_EQ(progress.done, (std::vector<unsigned>{128, 256, 300}));
    EXPECT_EQ(progress.total, 300u);
    EXPECT_EQ(progress.buffer, source.data());

    Bytes back(300);
    Progress readProgress;
    EXPECT_EQ(protocol.ReadMemory(0x1000, back.data(), 300, RecordProgress, &readProgress, 128), 0);
    EXPECT_EQ(back, source);
    ASSERT_EQ(device.Requests().size(), 6u);
    EXPECT_EQ(device.Requests()[3][5], 128);
    EXPECT_EQ(device.Requests()[4][5], 128);
    EXPECT_EQ(device.Requests()[5][5], 44);
    EXPECT_EQ(readProgress.done, (std::vector<unsigned>{128, 256, 300}));
    EXPECT_EQ(readProgress.buffer, back.data());
}

TEST_F(ProtocolMemory, FailedChunkEndsTheTransfer)
{
    device.Script(CMD_WRITE_MEMORY, CScriptedDevice::Ok());
    device.Script(CMD_WRITE_MEMORY, CScriptedDevice::Status(147));
    Bytes source(300, 0x42);
    Progress progress;
    EXPECT_EQ(protocol.WriteMemory(0, source.data(), 300, RecordProgress, &progress, 128), 147);
    EXPECT_EQ(device.Requests().size(), 2u);
    EXPECT_EQ(progress.done, std::vector<unsigned>{128});
}

TEST_F(ProtocolMemory, ChunkLimitsOfThePacket)
{
    Bytes data(254, 0x77);
    EXPECT_EQ(protocol.WriteMemory(0, data.data(), 248, nullptr, nullptr, kMaxWriteChunk), 0);
    EXPECT_EQ(protocol.ReadMemory(0, data.data(), 254, nullptr, nullptr, kMaxReadChunk), 0);
    EXPECT_EQ(device.Requests().size(), 2u);

    EXPECT_EQ(protocol.WriteMemory(0, data.data(), 249, nullptr, nullptr, kMaxWriteChunk + 1),
              RESULT_BAD_REQUEST);
    EXPECT_EQ(protocol.ReadMemory(0, data.data(), 254, nullptr, nullptr, kMaxReadChunk + 1),
              RESULT_BAD_REQUEST);
    EXPECT_EQ(protocol.ReadMemory(0, data.data(), 8, nullptr, nullptr, 0), RESULT_BAD_REQUEST);
    EXPECT_EQ(device.Requests().size(), 2u);
}

TEST_F(ProtocolMemory, EmptyTransferSendsNothing)
{
    Progress progress;
    EXPECT_EQ(protocol.ReadMemory(0, nullptr, 0, RecordProgress, &progress, 128), 0);
    EXPECT_EQ(protocol.WriteMemory(0, nullptr, 0, RecordProgress, &progress, 128), 0);
    EXPECT_TRUE(device.Calls().empty());
    EXPECT_TRUE(progress.done.empty());
}

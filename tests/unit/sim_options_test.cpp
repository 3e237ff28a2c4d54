#include <gtest/gtest.h>

#include "sim/sim_options.h"
#include "support/sim_bench.h"

namespace {

bool Parse(std::vector<std::string> args, SimProgramOptions& out, std::string* error = nullptr)
{
    std::string message;
    const bool ok = ParseSimOptions(args, out, message);
    if (error)
        *error = message;
    return ok;
}

}  // namespace

TEST(SimOptions, EveryScannerSettingAndFaults)
{
    SimProgramOptions o;
    ASSERT_TRUE(Parse({"--speed", "6", "--model", "0xC9", "--serial", "4294967295", "--mode", "1",
                       "--no-speed-command", "--restart-ms", "250", "--old-mode-once",
                       "--restart-speed", "0", "--never-loader", "--usb", "--line-rate",
                       "--turnaround-us", "700", "--flash", "0x10000", "0x20000", "--write-align",
                       "4", "--write-error", "147", "--fault-rate", "0.25", "--seed", "9",
                       "--fault", "0x9E:busy:3", "--fault", "any:status:2:145",
                       "--fault-kinds", "truncated,cut", "--link", "/tmp/l",
                       "--state", "/tmp/s", "--expect-ldr", "a.ldr", "--dump", "d.bin", "0x100",
                       "16", "--max-speed", "8", "--max-line-baud", "460800"},
                      o));
    const SimConfig& c = o.config;
    EXPECT_EQ(c.speedCode, 6);
    EXPECT_EQ(c.modelCode, 201);
    EXPECT_EQ(c.serialNumber, 0xFFFFFFFFu);
    EXPECT_EQ(c.startMode, 1);
    EXPECT_FALSE(c.speedCommand);
    EXPECT_EQ(c.maxSpeedCode, 8);
    EXPECT_EQ(c.maxLineBaud, 460800u);
    EXPECT_EQ(c.restartMs, 250u);
    EXPECT_TRUE(c.backInOldModeOnce);
    EXPECT_EQ(c.restartSpeedCode, 0);
    EXPECT_TRUE(c.neverEntersLoader && c.usbCdc && c.lineRate);
    EXPECT_EQ(c.turnaroundUs, 700u);
    EXPECT_EQ(c.flashBase, 0x10000u);
    EXPECT_EQ(c.flashSize, 0x20000u);
    EXPECT_EQ(c.writeAlign, 4u);
    EXPECT_EQ(c.writeErrorStatus, 147);
    EXPECT_DOUBLE_EQ(c.randomFaultRate, 0.25);
    EXPECT_EQ(c.randomSeed, 9u);
    EXPECT_EQ(c.randomFaultKinds, (std::vector<SimFault>{SimFault::TruncatedReply, SimFault::CutLine}));
    ASSERT_EQ(o.faults.size(), 2u);
    EXPECT_EQ(o.faults[0].opcode, 0x9E);
    EXPECT_EQ(o.faults[0].fault, SimFault::Busy);
    EXPECT_EQ(o.faults[0].count, 3u);
    EXPECT_EQ(o.faults[1].opcode, -1);
    EXPECT_EQ(o.faults[1].fault, SimFault::ErrorStatus);
    EXPECT_EQ(o.faults[1].status, 145);
    EXPECT_EQ(o.linkPath, "/tmp/l");
    EXPECT_EQ(o.statePath, "/tmp/s");
    EXPECT_EQ(o.expectLdrPath, "a.ldr");
    EXPECT_EQ(o.dumpPath, "d.bin");
    EXPECT_EQ(o.dumpAddress, 0x100u);
    EXPECT_EQ(o.dumpSize, 16u);
    EXPECT_FALSE(o.help);
}

TEST(SimOptions, BadValuesAreRefused)
{
    const std::vector<std::vector<std::string>> bad = {
        {"--speed", "10"}, {"--speed"}, {"--speed", "-1"}, {"--model", "256"}, {"--mode", "2"},
        {"--serial", "12x"}, {"--fault", "0x9E"}, {"--fault", "0x9E:bogus"},
        {"--fault", "0x100:busy"}, {"--fault", "any:status"}, {"--fault", "any:busy:0"},
        {"--fault-rate", "1.5"}, {"--fault-rate", "x"}, {"--fault-kinds", "noise,bogus"},
        {"--fault-kinds", "status"}, {"--fault-kinds", ""}, {"--flash", "0xFFFFFFFF", "2"},
        {"--dump", "f", "0"}, {"--max-speed", "10"}, {"--max-line-baud", "0"}, {"--frobnicate"}, {"--link", ""}, {"--gadget", "/g"}};
    for (const auto& args : bad) {
        SimProgramOptions o;
        std::string error;
        EXPECT_FALSE(Parse(args, o, &error)) << args[0];
        EXPECT_FALSE(error.empty());
    }
    SimProgramOptions o;
    EXPECT_TRUE(Parse({"-h"}, o));
    EXPECT_TRUE(o.help);
    // The usage names the opcodes --fault takes, each with its command.
    const std::string usage = SimUsageText();
    for (const char* op : {"156 write-memory", "157 read-memory", "158 get-info",
                           "159 mode-register", "161 baud-rate", "162 unique-id"})
        EXPECT_NE(usage.find(op), std::string::npos) << op;
}

TEST(SimOptions, StateTextSummarisesModeSpeedAndMemory)
{
    SimConfig config;
    config.startMode = 1;
    SimBench b(config);
    const std::vector<uint8_t> write = {0x00, 0x01, 0, 0, '1', '2', '3', '4', '5', '6', '7', '8', '9'};
    ASSERT_EQ(b.Command(0x9C, write).Status(), 0);
    const std::string text = SimStateText(b.scanner, b.now);
    EXPECT_EQ(text,
              "mode loader\nspeed 2\nbaud 9600\nrestarts 0\ncommands 1\nfaults 0\nwrite_faults 0\n"
              "register 02 03 00 80\nverdict 1\nimage none\n"
              "memory_bytes 9\nsession_bytes 9\nrange 0x00000100 9 CBF43926\n");
}

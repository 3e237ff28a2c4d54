#include <gtest/gtest.h>

#include "cli/options.h"
#include "cli/settings.h"
#include "transport/port_system.h"

namespace {

CCliOptions Parse(std::vector<std::string> args)
{
    return ParseCliOptions(args);
}

// The usage error's text for a command line that must be refused.
std::string Refusal(std::vector<std::string> args)
{
    try {
        ParseCliOptions(args);
    } catch (const CUsageError& e) {
        return e.what();
    }
    ADD_FAILURE() << "accepted";
    return std::string();
}

}  // namespace

TEST(CliOptions, HelpAnywhereWinsOverEverythingElse)
{
    EXPECT_TRUE(Parse({"--help"}).help);
    EXPECT_TRUE(Parse({"-h"}).help);
    EXPECT_TRUE(Parse({"update", "--speed", "42", "--bogus", "--help"}).help);
    // After "--" it is an argument, not the option.
    EXPECT_NE(Refusal({"check", "--", "--help"}), "");
}

TEST(CliOptions, CommandsTakeTheirArguments)
{
    EXPECT_EQ(Parse({"ports"}).command, CliCommand::Ports);
    EXPECT_EQ(Parse({"check"}).command, CliCommand::Check);
    EXPECT_EQ(Parse({"info"}).command, CliCommand::Info);
    EXPECT_EQ(Parse({"update"}).command, CliCommand::Update);

    const CCliOptions search = Parse({"search", "/dev/ttyS0", "COM3"});
    EXPECT_EQ(search.command, CliCommand::Search);
    EXPECT_EQ(search.ports, (std::vector<std::string>{"/dev/ttyS0", "COM3"}));
    EXPECT_TRUE(Parse({"search"}).ports.empty());

    const CCliOptions speed = Parse({"set-speed", "5"});
    EXPECT_EQ(speed.command, CliCommand::SetSpeed);
    EXPECT_EQ(speed.newSpeedCode, 5);

    const CCliOptions modules = Parse({"modules", "a b.ldr"});
    EXPECT_EQ(modules.command, CliCommand::Modules);
    EXPECT_EQ(modules.modulesFile, "a b.ldr");
}

TEST(CliOptions, OptionsInBothFormsAnywhereTheLastOneWins)
{
    const CCliOptions o = Parse({"--port", "COM3", "update", "--speed=4", "--timeout", "250",
                                 "--firmware=x.ldr", "--retry", "3", "--settings", "s.ini",
                                 "--port=COM7"});
    EXPECT_EQ(o.command, CliCommand::Update);
    EXPECT_EQ(o.port, "COM7");
    EXPECT_EQ(o.speedCode, 4);
    EXPECT_EQ(o.timeout, 250u);
    EXPECT_EQ(o.firmwareFile, "x.ldr");
    EXPECT_EQ(o.retries, 3u);
    EXPECT_EQ(o.settingsFile, "s.ini");
    // update takes every port named, for a run on each.
    EXPECT_EQ(o.updatePorts, (std::vector<std::string>{"COM3", "COM7"}));
    // A port named twice is one port.
    EXPECT_EQ(Parse({"update", "--port", "COM3", "--port", "COM3"}).updatePorts,
              (std::vector<std::string>{"COM3"}));
    EXPECT_EQ(Parse({"search", "COM3", "COM3"}).ports, (std::vector<std::string>{"COM3"}));
    // So is one named in two cases where the platform's names ignore case (Windows).
    EXPECT_EQ(Parse({"update", "--port", "COM3", "--port", "com3"}).updatePorts.size(),
              SamePortName("COM3", "com3") ? 1u : 2u);
    EXPECT_TRUE(Parse({"update", "--version"}).version);
    const CCliOptions many = Parse({"update", "--all", "--jobs", "2", "--log=r.jsonl"});
    EXPECT_TRUE(many.allPorts);
    EXPECT_EQ(many.jobs, 2u);
    EXPECT_EQ(many.logFile, "r.jsonl");

    const CCliOptions plain = Parse({"check"});
    EXPECT_FALSE(plain.port || plain.speedCode || plain.timeout || plain.settingsFile);

    // "--" ends the options: a port whose name starts with dashes can still be searched.
    EXPECT_EQ(Parse({"search", "--", "--odd"}).ports, (std::vector<std::string>{"--odd"}));
    EXPECT_EQ(Parse({"update", "--retry", "0"}).retries, 0u);
}

TEST(CliOptions, RangesAndFormsOfNumbers)
{
    EXPECT_EQ(Parse({"check", "--speed", "0"}).speedCode, 0);
    EXPECT_EQ(Parse({"check", "--speed", "9"}).speedCode, 9);
    EXPECT_EQ(Parse({"check", "--timeout", "100"}).timeout, 100u);
    EXPECT_EQ(Parse({"check", "--timeout", "300000"}).timeout, 300000u);

    EXPECT_NE(Refusal({"check", "--speed", "10"}).find("от 0 до 9"), std::string::npos);
    EXPECT_NE(Refusal({"check", "--speed", "-1"}).find("ожидается число"), std::string::npos);
    EXPECT_NE(Refusal({"check", "--speed", "5x"}).find("ожидается число"), std::string::npos);
    EXPECT_NE(Refusal({"check", "--speed", ""}).find("ожидается число"), std::string::npos);
    EXPECT_NE(Refusal({"check", "--speed", "99999999999999999999"}).find("ожидается число"),
              std::string::npos);
    EXPECT_NE(Refusal({"check", "--timeout", "99"}).find("от 100 до 300000"), std::string::npos);
    EXPECT_NE(Refusal({"check", "--timeout", "300001"}).find("от 100 до 300000"),
              std::string::npos);
    EXPECT_NE(Refusal({"update", "--retry", "1000001"}), "");
    EXPECT_NE(Refusal({"update", "--jobs", "0"}), "");
    EXPECT_NE(Refusal({"set-speed", "10"}).find("от 0 до 9"), std::string::npos);
    EXPECT_NE(Refusal({"set-speed", "fast"}).find("ожидается число"), std::string::npos);
    // The module is written at 115200 or faster.
    EXPECT_EQ(Parse({"update", "--transfer-speed", "9"}).transferSpeedCode, 9);
    EXPECT_EQ(Refusal({"update", "--transfer-speed", "5"}),
              "--transfer-speed: код скорости записи должен быть от 6 до 9, задано 5");
    EXPECT_NE(Refusal({"update", "--transfer-speed", "10"}).find("от 6 до 9"), std::string::npos);
}

TEST(CliOptions, MalformedCommandLinesAreRefusedWithTheReason)
{
    EXPECT_NE(Refusal({}).find("не задана команда"), std::string::npos);
    EXPECT_NE(Refusal({"--port", "COM3"}).find("не задана команда"), std::string::npos);
    EXPECT_NE(Refusal({"flash"}).find("неизвестная команда: flash"), std::string::npos);
    EXPECT_NE(Refusal({"check", "--verbose"}).find("--verbose"), std::string::npos);
    EXPECT_NE(Refusal({"check", "-x"}).find("-x"), std::string::npos);
    EXPECT_NE(Refusal({"check", "--port"}).find("нужно значение"), std::string::npos);
    // Unknown wherever it stands, the last argument too.
    EXPECT_EQ(Refusal({"check", "--bogus"}), "неизвестный параметр: --bogus");
    EXPECT_EQ(Refusal({"check", "--bogus=1"}), "неизвестный параметр: --bogus");
    EXPECT_NE(Refusal({"check", "--port="}).find("пустое значение"), std::string::npos);
    EXPECT_NE(Refusal({"check", "extra"}).find("лишний аргумент"), std::string::npos);
    EXPECT_NE(Refusal({"set-speed"}).find("нужен аргумент"), std::string::npos);
    EXPECT_NE(Refusal({"set-speed", "4", "5"}).find("лишний аргумент"), std::string::npos);
    EXPECT_NE(Refusal({"modules"}).find("нужен аргумент"), std::string::npos);
    EXPECT_EQ(Refusal({"update", "--tag", "operator"}),
              "--tag: ожидается ИМЯ=ЗНАЧЕНИЕ, задано «operator»");
    EXPECT_NE(Refusal({"update", "--tag", "=x"}).find("ИМЯ=ЗНАЧЕНИЕ"), std::string::npos);
    const CCliOptions tagged = Parse({"update", "--tag", "order=WO=7", "--tag=operator="});
    EXPECT_EQ(tagged.tags, (std::vector<std::pair<std::string, std::string>>{
                               {"order", "WO=7"}, {"operator", ""}}));
}

TEST(CliOptions, OptionsACommandWouldIgnoreAreRefused)
{
    EXPECT_NE(Refusal({"check", "--firmware", "a.ldr"}).find("--firmware"), std::string::npos);
    EXPECT_NE(Refusal({"info", "--retry", "2"}).find("--retry"), std::string::npos);
    EXPECT_NE(Refusal({"search", "--port", "COM3"}).find("--port"), std::string::npos);
    EXPECT_NE(Refusal({"ports", "--speed", "3"}).find("--speed"), std::string::npos);
    EXPECT_NE(Refusal({"check", "--all"}).find("--all"), std::string::npos);
    EXPECT_NE(Refusal({"info", "--jobs", "2"}).find("--jobs"), std::string::npos);
    EXPECT_NE(Refusal({"check", "--log", "r.jsonl"}).find("--log"), std::string::npos);
    EXPECT_NE(Refusal({"info", "--tag", "a=b"}).find("--tag"), std::string::npos);
    EXPECT_NE(Refusal({"update", "--json"}).find("--json"), std::string::npos);
    EXPECT_NE(Refusal({"set-speed", "4", "--json"}).find("--json"), std::string::npos);
    EXPECT_TRUE(Parse({"modules", "f.ldr", "--json"}).json);
    EXPECT_NE(Refusal({"set-speed", "9", "--transfer-speed", "9"}).find("--transfer-speed"),
              std::string::npos);
    EXPECT_NE(Refusal({"modules", "f.ldr", "--timeout", "500"}).find("--timeout"),
              std::string::npos);
    // The settings file may be named for any command.
    EXPECT_EQ(Parse({"ports", "--settings", "s.ini"}).settingsFile, "s.ini");
}

TEST(CliOptions, HelpNamesEveryCommandOptionAndExitCode)
{
    const std::string help = CliHelpText();
    for (const char* word : {"ports", "check", "search", "set-speed", "info", "update", "modules",
                             "--settings", "--port", "--speed", "--timeout", "--firmware",
                             "--retry", "--all", "--jobs", "--log", "--tag", "--json", "--transfer-speed", "Firmware/TransferSpeed", "--help", "--version", "130", "143",
                             "129", "SIGTERM", "trelvo.ini", "Connect/BaudRate"}) {
        EXPECT_NE(help.find(word), std::string::npos) << word;
    }
}

TEST(CliSettingsPath, TheWindowsProgramsFileBesideTheExecutable)
{
    EXPECT_EQ(CliSettingsPathBeside("/opt/trelvo/bin/trelvo-cli"), "/opt/trelvo/bin/trelvo.ini");
    EXPECT_EQ(CliSettingsPathBeside("C:\\Tools\\trelvo-cli.exe"), "C:\\Tools\\trelvo.ini");
    EXPECT_EQ(CliSettingsPathBeside("trelvo-cli"), "trelvo.ini");
}

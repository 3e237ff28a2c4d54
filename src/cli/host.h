// The run host of the command-line tool: the platform's host for time, pumping and
// Stop, with message boxes turned into text on the error stream and the run's
// "continue?" question answered from --retry or the terminal.
#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include "base/host.h"

// Where a question goes when no retries are left to answer it: interactive is false
// when stdin is not a terminal (the answer is then No); readLine gets one line of the
// answer, false at the end of input.
struct CCliTerminal {
    bool interactive = false;
    std::function<bool(std::string& line)> readLine;
};

class CCliHost : public CRunHost {
public:
    // retries: how many questions to answer Yes; without it, ask on the terminal.
    CCliHost(CRunHost& platform, std::ostream& err, std::optional<unsigned> retries,
             CCliTerminal terminal);

    uint32_t TickCount() override { return platform.TickCount(); }
    void Sleep(uint32_t ms) override { platform.Sleep(ms); }
    void PumpMessages() override;
    void RequestStop(int code) override { platform.RequestStop(code); }
    bool ShowMessageBox(const std::string& text, const std::string& caption,
                        MessageBoxKind kind, BoxOwner owner) override;

    // Every box from now on names the port as the user named it: at its start, unless the
    // message names it already (a port that went away says which).
    void NamePort(const std::string& port) { portName = port; }

    // Whether a pump has turned a stop request into stop_exception.
    bool Stopped() const { return stopped; }
    // How many error boxes were shown (failures reported through ReportException).
    unsigned ErrorCount() const { return errors; }
    // The message of the last failure shown or asked about, without the port; empty if none.
    const std::string& LastMessage() const { return lastMessage; }

private:
    bool Ask();
    std::string Prefixed(const std::string& text) const;

    CRunHost& platform;
    std::ostream& err;
    std::optional<unsigned> retriesLeft;
    CCliTerminal terminal;
    bool stopped = false;
    unsigned errors = 0;
    std::string lastMessage;
    std::string portName;
};

// A text written for a Windows message box, for a terminal: "\r\n" line ends become "\n".
std::string PlainLineEnds(const std::string& text);

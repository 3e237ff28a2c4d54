// The protocol trace: every frame that goes over a port and every event of the port, as
// lines of text a person can read and a script can check.
//
// The transport and the protocol hold a CTraceSink pointer that is null when nothing is
// traced; they test it before building anything, so a run without a trace formats
// nothing. A sink is shared by every port of a run and may be called from their threads.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

enum class TraceDirection : char { Sent = '>', Received = '<' };

constexpr int kTraceNoStatus = -1;

class CTraceSink {
public:
    virtual ~CTraceSink() = default;
    // A frame as it went over the line (start byte to checksum). command is the decoded
    // command's name; status the reply's status byte (kTraceNoStatus for a request or a
    // reply too short to carry one); note, when not null, why the frame is incomplete.
    virtual void Frame(const std::string& port, TraceDirection direction,
                       const unsigned char* bytes, unsigned size, const char* command,
                       int status, const char* note) = 0;
    // Something done to the port or seen of it: "open", "speed 115200", "purge rx"...
    virtual void Event(const std::string& port, const std::string& what) = 0;
    // A line about the whole trace rather than one port ("firmware ... sha256 ...").
    virtual void Comment(const std::string& text) {}
};

// Writes one tab-separated line per frame or event, led by the microseconds since the
// writer was made:
//   <us> <port> > <hex bytes> <command>
//   <us> <port> < <hex bytes> <command> status=<n> [<note>]
//   <us> <port> * <event>
// Lines reach the output whole and in time order, whichever thread writes them.
class CTraceWriter : public CTraceSink {
public:
    using Output = std::function<void(const std::string& line)>;
    using Clock = std::function<uint64_t()>;   // monotonic microseconds

    CTraceWriter(Output output, Clock clock);

    void Frame(const std::string& port, TraceDirection direction, const unsigned char* bytes,
               unsigned size, const char* command, int status, const char* note) override;
    void Event(const std::string& port, const std::string& what) override;
    void Comment(const std::string& text) override;

private:
    void Begin(const std::string& port, char mark);

    Output output;
    Clock clock;
    uint64_t start;
    std::mutex mutex;
    std::string line;   // reused under the mutex, so a frame costs no allocation
};

// The system's monotonic clock in microseconds.
uint64_t MonotonicMicroseconds();

// Creates (or empties) the trace file at the UTF-8 path and writes its heading line,
// which names the program (its version and command line) when program is given. Null,
// with the reason in error (the operator's words), when the file cannot be opened or
// does not take the heading.
std::unique_ptr<CTraceSink> OpenTraceFile(const std::string& path, std::string& error,
                                          const std::string& program = std::string());

// A scripted byte device standing in for a scanner on a serial line: it records every
// byte and every call the host makes, answers each request frame from a script, and
// times out like a real port when nothing is left to read (advancing a CVirtualHost's
// clock by its time-out, when it has one).
//
//     CVirtualHost host;
//     CScriptedDevice device(&host);
//     device.Script(CMD_GET_INFO, CScriptedDevice::Ok({1, 2, 3, 4, 150}));
//     device.Script(-1, CScriptedDevice::Busy(), 2);          // any opcode, twice
//     device.Script(CMD_READ_MEMORY, CScriptedDevice::Ok(bytes).WithNoise({0x55}));
//
// A request with no scripted reply gets the responder's reply (by default none: the
// host's read times out).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "sim/virtual_host.h"
#include "transport/basic_device.h"

class CScriptedDevice : public CBasicDevice {
public:
    using Bytes = std::vector<uint8_t>;

    // What the scanner sends back for one request.
    struct Reply {
        bool silent = false;      // nothing at all
        int status = 0;
        Bytes payload;
        int echo = -1;            // -1: the request's opcode
        Bytes noise;              // stray bytes ahead of the start byte
        bool badChecksum = false;
        Bytes raw;                // not empty: exactly these bytes instead of a packet

        Reply WithNoise(Bytes bytes) const { Reply r = *this; r.noise = std::move(bytes); return r; }
        Reply WithEcho(uint8_t opcode) const { Reply r = *this; r.echo = opcode; return r; }
        Reply WithBadChecksum() const { Reply r = *this; r.badChecksum = true; return r; }
    };

    static Reply Ok(Bytes payload = {}) { Reply r; r.payload = std::move(payload); return r; }
    static Reply Status(int status) { Reply r; r.status = status; return r; }
    static Reply Busy() { return Status(2); }
    static Reply Silent() { Reply r; r.silent = true; return r; }
    static Reply Raw(Bytes bytes) { Reply r; r.raw = std::move(bytes); return r; }

    // A packet around data bytes, as the scanner frames it: LEN 0 stands for 256 bytes
    // and the checksum is LEN (as sent) XOR every data byte.
    static Bytes Frame(const Bytes& data, bool badChecksum = false)
    {
        Bytes frame{0x02, static_cast<uint8_t>(data.size())};
        uint8_t checksum = frame[1];
        for (uint8_t b : data) {
            frame.push_back(b);
            checksum ^= b;
        }
        frame.push_back(badChecksum ? static_cast<uint8_t>(checksum ^ 0xA5) : checksum);
        return frame;
    }

    static constexpr uint32_t kRestWaitMs = 30;

    explicit CScriptedDevice(CVirtualHost* clock = nullptr, uint32_t timeoutMs = 100)
        : clock(clock), timeoutMs(timeoutMs)
    {
    }

    // Queues a reply for the next request(s) with this opcode (-1: any opcode).
    void Script(int opcode, Reply reply, unsigned times = 1)
    {
        for (unsigned i = 0; i < times; ++i)
            script.push_back({opcode, reply});
    }
    void ClearScript() { script.clear(); }
    // Answers requests that nothing is scripted for (the request's data: opcode first).
    void SetResponder(std::function<Reply(const Bytes& request)> r) { responder = std::move(r); }
    // Puts bytes on the line as if the scanner had sent them unasked.
    void Feed(const Bytes& bytes) { input.insert(input.end(), bytes.begin(), bytes.end()); }

    // The next n calls of the kind fail with CBasicDevice::CException.
    void FailWrites(unsigned n) { failWrites = n; }
    void FailClears(unsigned n) { failClears = n; }
    void SetOpen(bool open) { isOpen = open; }

    const Bytes& Written() const { return written; }
    // The data (opcode and parameters) of every well-formed request frame, in order.
    const std::vector<Bytes>& Requests() const { return requests; }
    Bytes Opcodes() const
    {
        Bytes ops;
        for (const Bytes& r : requests)
            ops.push_back(r.empty() ? 0 : r[0]);
        return ops;
    }
    unsigned MalformedWrites() const { return malformed; }
    size_t Pending() const { return input.size(); }
    unsigned Timeouts() const { return timeouts; }
    // Every call in order: "clear", "purge-in", "purge-out", "write", "read", "timeout",
    // "read-rest", "cut" (the rest did not come), "drain".
    const std::vector<std::string>& Calls() const { return calls; }
    unsigned ScriptLeft() const { return static_cast<unsigned>(script.size()); }

    bool IsOpen() const override { return isOpen; }

    void Write(const void* data, unsigned size) override
    {
        Check("write");
        if (failWrites != 0) {
            --failWrites;
            throw CException();
        }
        const uint8_t* bytes = static_cast<const uint8_t*>(data);
        written.insert(written.end(), bytes, bytes + size);
        Bytes request;
        if (ParseRequest(Bytes(bytes, bytes + size), request)) {
            requests.push_back(request);
            Answer(request);
        } else {
            ++malformed;
        }
    }
    void WriteByte(unsigned char b) override { Write(&b, 1); }

    void Read(void* buffer, unsigned size) override
    {
        Check("read");
        uint8_t* out = static_cast<uint8_t*>(buffer);
        unsigned got = 0;
        while (got < size && !input.empty()) {
            out[got++] = input.front();
            input.pop_front();
        }
        if (got < size)
            TimeOut();
    }
    unsigned char ReadByte() override
    {
        unsigned char b = 0;
        Read(&b, 1);
        return b;
    }
    // The rest of a reply: what is missing costs its time on the line (kRestWaitMs), not
    // the reply time-out.
    void ReadRest(void* buffer, unsigned size) override
    {
        Check("read-rest");
        uint8_t* out = static_cast<uint8_t*>(buffer);
        unsigned got = 0;
        while (got < size && !input.empty()) {
            out[got++] = input.front();
            input.pop_front();
        }
        if (got < size) {
            calls.push_back("cut");
            if (clock != nullptr)
                clock->Sleep(kRestWaitMs);
            throw CException();
        }
    }
    void Drain() override
    {
        Check("drain");
        input.clear();
    }
    void ReadSome(void* buffer, unsigned* size) override
    {
        Check("read");
        uint8_t* out = static_cast<uint8_t*>(buffer);
        unsigned got = 0;
        while (got < *size && !input.empty()) {
            out[got++] = input.front();
            input.pop_front();
        }
        if (got < *size)
            Elapse();
        *size = got;
    }

    void ClearErrors() override
    {
        Check("clear");
        if (failClears != 0) {
            --failClears;
            throw CException();
        }
    }
    void PurgeInput() override
    {
        Check("purge-in");
        input.clear();
    }
    void PurgeOutput() override { Check("purge-out"); }

private:
    void Check(const char* call)
    {
        calls.push_back(call);
        if (!isOpen)
            throw CException();
    }

    void Elapse()
    {
        if (clock != nullptr)
            clock->Sleep(timeoutMs);
    }

    void TimeOut()
    {
        ++timeouts;
        calls.push_back("timeout");
        Elapse();
        throw CException();
    }

    static bool ParseRequest(const Bytes& frame, Bytes& data)
    {
        if (frame.size() < 4 || frame[0] != 0x02 || frame[1] == 0 || frame.size() != frame[1] + 3u)
            return false;
        uint8_t checksum = frame[1];
        for (size_t i = 2; i < frame.size() - 1; ++i)
            checksum ^= frame[i];
        if (checksum != frame.back())
            return false;
        data.assign(frame.begin() + 2, frame.end() - 1);
        return true;
    }

    void Answer(const Bytes& request)
    {
        Reply reply = Silent();
        bool scripted = false;
        for (auto it = script.begin(); it != script.end(); ++it) {
            if (it->first == -1 || it->first == request[0]) {
                reply = it->second;
                script.erase(it);
                scripted = true;
                break;
            }
        }
        if (!scripted && responder)
            reply = responder(request);
        if (reply.silent)
            return;
        Feed(reply.noise);
        if (!reply.raw.empty()) {
            Feed(reply.raw);
            return;
        }
        Bytes data{static_cast<uint8_t>(reply.echo < 0 ? request[0] : reply.echo),
                   static_cast<uint8_t>(reply.status)};
        data.insert(data.end(), reply.payload.begin(), reply.payload.end());
        Feed(Frame(data, reply.badChecksum));
    }

    CVirtualHost* clock;
    uint32_t timeoutMs;
    bool isOpen = true;
    unsigned failWrites = 0;
    unsigned failClears = 0;
    std::deque<std::pair<int, Reply>> script;
    std::function<Reply(const Bytes&)> responder;
    std::deque<uint8_t> input;
    Bytes written;
    std::vector<Bytes> requests;
    unsigned malformed = 0;
    unsigned timeouts = 0;
    std::vector<std::string> calls;
};

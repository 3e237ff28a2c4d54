// The byte device every exchange with a scanner goes through.
#pragma once

#include <exception>
#include <string>

class CTraceSink;

class CBasicDevice {
public:
    // A failed or short read or write, or a failed purge or clear. Carries no text.
    class CException : public std::exception {};

    virtual ~CBasicDevice() = default;
    virtual bool IsOpen() const = 0;
    virtual void Write(const void* data, unsigned size) = 0;    // all bytes or throws
    virtual void WriteByte(unsigned char b) = 0;
    // Exactly size bytes or throws: the first within the device's reply time-out, the
    // rest within their own time on the line.
    virtual void Read(void* buffer, unsigned size) = 0;
    virtual unsigned char ReadByte() = 0;
    // The bytes that follow bytes already received (the rest of a reply that has begun):
    // they must come within their own time on the line plus a small margin, or it throws.
    virtual void ReadRest(void* buffer, unsigned size) = 0;
    virtual void ReadSome(void* buffer, unsigned* size) = 0;    // a time-out is not a failure
    // Discards what is left of a broken reply: reads until the line has been quiet for a
    // few character times (never the reply time-out).
    virtual void Drain() = 0;
    virtual void ClearErrors() = 0;
    virtual void PurgeInput() = 0;
    virtual void PurgeOutput() = 0;
    // Where the protocol on this device reports its frames, under the name TraceName;
    // null when nothing is traced.
    virtual CTraceSink* Trace() const { return nullptr; }
    virtual std::string TraceName() const { return {}; }
};

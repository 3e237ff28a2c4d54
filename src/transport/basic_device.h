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
    virtual void Read(void* buffer, unsigned size) = 0;         // exactly size bytes or throws
    virtual unsigned char ReadByte() = 0;
    virtual void ReadSome(void* buffer, unsigned* size) = 0;    // a time-out is not a failure
    virtual void ClearErrors() = 0;
    virtual void PurgeInput() = 0;
    virtual void PurgeOutput() = 0;
    // Where the protocol on this device reports its frames, under the name TraceName;
    // null when nothing is traced.
    virtual CTraceSink* Trace() const { return nullptr; }
    virtual std::string TraceName() const { return {}; }
};

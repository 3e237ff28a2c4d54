// SHA-256 of a byte stream, for naming exactly which firmware file went into a scanner.
// The hash is the system's own (CNG on Windows, OpenSSL's libcrypto elsewhere).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

class CSha256 {
public:
    // The system's hash could not be set up or run.
    class CError : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };

    CSha256();   // throws CError
    ~CSha256();
    CSha256(const CSha256&) = delete;
    CSha256& operator=(const CSha256&) = delete;

    void Update(const void* data, size_t size);   // throws CError
    // The digest; the object is spent afterwards. Throws CError.
    std::array<uint8_t, 32> Finish();

private:
    struct State;
    std::unique_ptr<State> state;
};

// Lower-case hex of a digest.
std::string HexDigest(const std::array<uint8_t, 32>& digest);

// SHA-256 through CNG (bcrypt.dll), a part of the system.
#include <windows.h>

#include <bcrypt.h>

#include "base/sha256.h"

namespace {

bool Succeeded(NTSTATUS status)
{
    return status >= 0;
}

}  // namespace

struct CSha256::State {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    ~State()
    {
        if (hash != nullptr)
            BCryptDestroyHash(hash);
        if (algorithm != nullptr)
            BCryptCloseAlgorithmProvider(algorithm, 0);
    }
};

CSha256::CSha256() : state(std::make_unique<State>())
{
    // With a null hash object buffer, CNG keeps the hash object itself (Windows 7 and later).
    if (!Succeeded(BCryptOpenAlgorithmProvider(&state->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
        !Succeeded(BCryptCreateHash(state->algorithm, &state->hash, nullptr, 0, nullptr, 0, 0)))
        throw CError("SHA-256 is not available");
}

CSha256::~CSha256() = default;

void CSha256::Update(const void* data, size_t size)
{
    // CNG takes at most a ULONG at a time.
    const auto* bytes = static_cast<const UCHAR*>(data);
    while (size > 0) {
        const ULONG piece = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
        if (!Succeeded(BCryptHashData(state->hash, const_cast<PUCHAR>(bytes), piece, 0)))
            throw CError("SHA-256 failed");
        bytes += piece;
        size -= piece;
    }
}

std::array<uint8_t, 32> CSha256::Finish()
{
    std::array<uint8_t, 32> digest{};
    if (!Succeeded(BCryptFinishHash(state->hash, digest.data(), static_cast<ULONG>(digest.size()), 0)))
        throw CError("SHA-256 failed");
    return digest;
}

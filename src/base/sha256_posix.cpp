// SHA-256 through OpenSSL's libcrypto.
#include <openssl/evp.h>

#include "base/sha256.h"

struct CSha256::State {
    EVP_MD_CTX* context = nullptr;
    ~State() { EVP_MD_CTX_free(context); }
};

CSha256::CSha256() : state(std::make_unique<State>())
{
    state->context = EVP_MD_CTX_new();
    if (state->context == nullptr || EVP_DigestInit_ex(state->context, EVP_sha256(), nullptr) != 1)
        throw CError("SHA-256 is not available");
}

CSha256::~CSha256() = default;

void CSha256::Update(const void* data, size_t size)
{
    if (EVP_DigestUpdate(state->context, data, size) != 1)
        throw CError("SHA-256 failed");
}

std::array<uint8_t, 32> CSha256::Finish()
{
    std::array<uint8_t, 32> digest{};
    unsigned length = 0;
    if (EVP_DigestFinal_ex(state->context, digest.data(), &length) != 1 || length != digest.size())
        throw CError("SHA-256 failed");
    return digest;
}

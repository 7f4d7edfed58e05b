#include "engine/installer/sha256.h"

#include <openssl/evp.h>

#include <cstdio>
#include <new>

namespace zavren {

namespace {

EVP_MD_CTX* freshContext() {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    if (!ctx || EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr) != 1) throw std::bad_alloc();
    return ctx;
}

}  // namespace

Sha256::Sha256() : ctx_(freshContext()) {}

Sha256::~Sha256() {
    EVP_MD_CTX_free(ctx_);
}

Sha256::Sha256(const Sha256& other) : ctx_(EVP_MD_CTX_new()) {
    if (!ctx_ || EVP_MD_CTX_copy_ex(ctx_, other.ctx_) != 1) throw std::bad_alloc();
}

Sha256& Sha256::operator=(const Sha256& other) {
    if (this != &other && EVP_MD_CTX_copy_ex(ctx_, other.ctx_) != 1) throw std::bad_alloc();
    return *this;
}

void Sha256::reset() {
    EVP_DigestInit_ex(ctx_, EVP_sha256(), nullptr);
}

void Sha256::update(const void* data, std::size_t size) {
    if (size > 0) EVP_DigestUpdate(ctx_, data, size);
}

std::string Sha256::hexDigest() const {
    Sha256 copy(*this);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(copy.ctx_, digest, &length);
    std::string hex;
    hex.reserve(length * 2);
    char two[3];
    for (unsigned int i = 0; i < length; ++i) {
        std::snprintf(two, sizeof two, "%02x", digest[i]);
        hex += two;
    }
    return hex;
}

}  // namespace zavren

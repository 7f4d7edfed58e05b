#pragma once

#include <cstddef>
#include <string>

struct evp_md_ctx_st;

namespace zavren {

// Running SHA-256; the digest is taken from a copy, so hashing can go on after it.
class Sha256 {
  public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256& other);
    Sha256& operator=(const Sha256& other);

    void reset();
    void update(const void* data, std::size_t size);
    // 64 lower-case hexadecimal digits of everything fed so far.
    std::string hexDigest() const;

  private:
    evp_md_ctx_st* ctx_;
};

}  // namespace zavren

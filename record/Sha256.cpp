#include "record/Sha256.h"

#include <openssl/evp.h>

#include <new>

TSha256::TSha256() : context_(EVP_MD_CTX_new()) {
    if (context_ == nullptr)
        throw std::bad_alloc();
    Restarted();
}

TSha256::~TSha256() {
    EVP_MD_CTX_free(context_);
}

void TSha256::Written(const void* data, size_t count) {
    EVP_DigestUpdate(context_, data, count);
}

void TSha256::Restarted() {
    EVP_DigestInit_ex(context_, EVP_sha256(), nullptr);
}

std::string TSha256::Hex() const {
    EVP_MD_CTX* copy = EVP_MD_CTX_new();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (copy == nullptr || EVP_MD_CTX_copy_ex(copy, context_) != 1 ||
        EVP_DigestFinal_ex(copy, digest, &size) != 1)
        size = 0;
    EVP_MD_CTX_free(copy);
    static const char hex[] = "0123456789abcdef";
    std::string text;
    text.reserve(size * 2);
    for (unsigned int i = 0; i < size; ++i) {
        text += hex[digest[i] >> 4];
        text += hex[digest[i] & 0x0F];
    }
    return text;
}

std::string TSha256::Of(const std::string& bytes) {
    TSha256 hash;
    hash.Written(bytes.data(), bytes.size());
    return hash.Hex();
}

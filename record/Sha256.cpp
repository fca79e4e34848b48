#include "record/Sha256.h"

#include <openssl/evp.h>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <new>
#include <unistd.h>
#include <vector>

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

namespace {

// The digest fetched from its provider once: a lookup per file costs more than hashing 20 KB.
const EVP_MD* Sha256Digest() {
    static EVP_MD* const digest = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    return digest != nullptr ? digest : EVP_sha256();
}

} // namespace

void TSha256::Restarted() {
    EVP_DigestInit_ex(context_, Sha256Digest(), nullptr);
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

std::string TSha256::OfFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return {};
    std::string digest = OfDescriptor(fd);
    ::close(fd);
    return digest;
}

std::string TSha256::OfDescriptor(int fd, int64_t size) {
    // One buffer for every file of the thread: zeroing a fresh megabyte per small file would
    // cost more than hashing it.
    constexpr size_t BufferSize = 1 << 20;
    if (size < 0 || size >= static_cast<int64_t>(BufferSize))
        (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    TSha256 hash;
    static thread_local const std::unique_ptr<char[]> buffer(new char[BufferSize]);
    for (;;) {
        const ssize_t got = ::read(fd, buffer.get(), BufferSize);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return {};
        if (got == 0)
            break;
        hash.Written(buffer.get(), static_cast<size_t>(got));
    }
    return hash.Hex();
}

namespace {
constexpr size_t KeepAtMost = 1 << 20;
}

void TDeferredSha256::Written(const void* data, size_t count) {
    if (!running_ && kept_.size() + count > KeepAtMost) {
        running_ = std::make_unique<TSha256>();
        running_->Written(kept_.data(), kept_.size());
        std::string().swap(kept_);
    }
    if (running_)
        running_->Written(data, count);
    else
        kept_.append(static_cast<const char*>(data), count);
}

void TDeferredSha256::Restarted() {
    kept_.clear();
    running_.reset();
}

std::string TDeferredSha256::Hex() {
    if (running_)
        return running_->Hex();
    return TSha256::Of(kept_);
}

#pragma once

#include "platform/FileSystem.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

struct evp_md_ctx_st;

// SHA-256 of a file as it is written: attached to the file's stream, it sees each write, and a
// stream emptied to start again (a redirect's body replaced by the next) starts it again.
class TSha256 : public TWriteObserver {
public:
    TSha256();
    ~TSha256() override;
    TSha256(const TSha256&) = delete;
    TSha256& operator=(const TSha256&) = delete;

    void Written(const void* data, size_t count) override;
    void Restarted() override;
    // The digest of everything seen since the start, as 64 lowercase hex digits; the hash goes
    // on taking writes afterwards.
    std::string Hex() const;

    // The digest of bytes, the same way.
    static std::string Of(const std::string& bytes);
    // The digest of a file (native path), read in large pieces; empty when it cannot be read.
    static std::string OfFile(const std::string& path);
    // The digest of what an open file holds from its current position on; empty on a read
    // error. size, when known, spares a small file the read-ahead advice.
    static std::string OfDescriptor(int fd, int64_t size = -1);

private:
    evp_md_ctx_st* context_;
};

// The SHA-256 of a file as it is written, made when asked for rather than at each write. A
// small file's bytes are kept (copying them costs a fraction of hashing them), so that the
// record's own thread can hash them beside the job; from a megabyte on they are hashed as they
// come, so a large file is never held in memory.
class TDeferredSha256 : public TWriteObserver {
public:
    void Written(const void* data, size_t count) override;
    void Restarted() override;
    // The digest of everything written since the start, as TSha256::Hex gives it.
    std::string Hex();

private:
    std::string kept_;
    std::unique_ptr<TSha256> running_; // from the first megabyte on
};

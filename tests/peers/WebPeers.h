#pragma once

#include "tests/support/Peers.h"

#include <cstdint>
#include <set>
#include <string>
#include <vector>

// The web peers every HTTP case of this process shares: one nginx serving a directory of
// generated files, one tinyproxy in front of it. They start at the first use and stop when the
// process ends. Each case runs in a process of its own, so a served file is written when a case
// first asks for it: most cases never need the 50 MB one.
class WebPeers {
public:
    // The sizes that matter to a client that moves data in chunks of up to 16383 bytes: nothing,
    // one byte, one chunk, one byte either side of it, and many chunks.
    static const std::vector<uint64_t>& FileSizes();
    static constexpr uint64_t LargeSize = 50ull << 20;

    // Starts the peers on the first call; raises peers::PeerError when one cannot start.
    static WebPeers& Get();

    peers::NginxServer& Nginx() { return nginx_; }
    peers::TinyProxyServer& Proxy() { return proxy_; }
    // The URL and the served copy of the file of that size (written on first use), and its
    // name under the server's root.
    std::string Url(uint64_t size);
    std::string ServedPath(uint64_t size);
    static std::string FileName(uint64_t size);
    // A fresh path for a downloaded copy, inside the peers' scratch directory.
    std::string OutputPath(const std::string& name) const;

private:
    WebPeers();

    peers::ScratchDir dir_;
    std::string www_;
    std::set<uint64_t> written_;
    peers::NginxServer nginx_;
    peers::TinyProxyServer proxy_;
};

// Writes size bytes of pseudo-random content determined by seed: a download that drops, repeats
// or reorders a chunk cannot match it by accident.
void WritePseudoRandomFile(const std::string& path, uint64_t size, uint64_t seed);

// Empty when both files hold the same bytes, else where and how they differ.
std::string FileDifference(const std::string& expectedPath, const std::string& actualPath);

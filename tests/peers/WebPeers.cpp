#include "tests/peers/WebPeers.h"

#include <algorithm>
#include <fstream>
#include <memory>

const std::vector<uint64_t>& WebPeers::FileSizes() {
    static const std::vector<uint64_t> sizes{0, 1, 16383, 16384, 16385, LargeSize};
    return sizes;
}

WebPeers::WebPeers() : www_(dir_.MakeDir("www")), nginx_(www_) {}

WebPeers& WebPeers::Get() {
    static std::unique_ptr<WebPeers> shared;
    if (!shared)
        shared.reset(new WebPeers());
    return *shared;
}

std::string WebPeers::FileName(uint64_t size) {
    return "size-" + std::to_string(size) + ".bin";
}

std::string WebPeers::ServedPath(uint64_t size) {
    const std::string path = www_ + "/" + FileName(size);
    if (written_.insert(size).second)
        WritePseudoRandomFile(path, size, size + 1);
    return path;
}

std::string WebPeers::Url(uint64_t size) {
    ServedPath(size);
    return nginx_.Url(FileName(size));
}

std::string WebPeers::OutputPath(const std::string& name) const {
    return dir_.MakeDir("out") + "/" + name;
}

void WritePseudoRandomFile(const std::string& path, uint64_t size, uint64_t seed) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::vector<char> block(1 << 16);
    uint64_t state = seed;
    for (uint64_t written = 0; written < size;) {
        for (size_t i = 0; i < block.size(); i += 8) {
            // splitmix64: cheap, and every seed gives a different stream.
            uint64_t z = (state += 0x9e3779b97f4a7c15ull);
            z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
            z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
            z ^= z >> 31;
            std::copy_n(reinterpret_cast<const char*>(&z), 8, block.begin() + long(i));
        }
        const uint64_t count = std::min<uint64_t>(block.size(), size - written);
        out.write(block.data(), std::streamsize(count));
        written += count;
    }
    if (!out)
        throw peers::PeerError("cannot write " + path);
}

std::string FileDifference(const std::string& expectedPath, const std::string& actualPath) {
    std::ifstream expected(expectedPath, std::ios::binary);
    std::ifstream actual(actualPath, std::ios::binary);
    if (!actual)
        return actualPath + " does not exist";
    std::vector<char> a(1 << 20), b(1 << 20);
    uint64_t offset = 0;
    for (;;) {
        expected.read(a.data(), std::streamsize(a.size()));
        actual.read(b.data(), std::streamsize(b.size()));
        const auto na = size_t(expected.gcount()), nb = size_t(actual.gcount());
        const auto mismatch =
            std::mismatch(a.begin(), a.begin() + long(std::min(na, nb)), b.begin());
        if (mismatch.first != a.begin() + long(std::min(na, nb)))
            return "first different byte at offset " +
                   std::to_string(offset + uint64_t(mismatch.first - a.begin()));
        if (na != nb)
            return "sizes differ: the copy " + std::string(nb < na ? "ends" : "goes on") +
                   " at offset " + std::to_string(offset + std::min(na, nb));
        if (na == 0)
            return {};
        offset += na;
    }
}

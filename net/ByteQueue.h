#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

// Received or queued bytes, consumed from the front. Consuming only moves an offset; the bytes
// are moved down when the consumed part is at least half the storage, so a long exchange of
// short lines neither copies on every line nor grows without end.
class ByteQueue {
public:
    const char* Data() const { return storage_.data() + head_; }
    size_t Size() const { return storage_.size() - head_; }
    bool Empty() const { return storage_.size() == head_; }
    std::string_view View() const { return {Data(), Size()}; }

    void Append(const char* data, size_t count) {
        if (head_ > 0 && head_ >= storage_.size() / 2) {
            storage_.erase(0, head_);
            head_ = 0;
        }
        storage_.append(data, count);
    }

    void Consume(size_t count) {
        head_ += count < Size() ? count : Size();
        if (head_ == storage_.size())
            Clear();
    }

    std::string Take(size_t count) {
        if (count > Size())
            count = Size();
        std::string result(Data(), count);
        Consume(count);
        return result;
    }

    // Position of the first byte c at or after from, relative to the front; npos if none.
    size_t Find(char c, size_t from) const {
        if (from >= Size())
            return std::string::npos;
        const void* found = std::memchr(Data() + from, c, Size() - from);
        return found == nullptr ? std::string::npos
                                : static_cast<size_t>(static_cast<const char*>(found) - Data());
    }

    void Clear() {
        storage_.clear();
        head_ = 0;
    }

private:
    std::string storage_;
    size_t head_ = 0;
};

#pragma once

#include <string>
#include <vector>

// An ordered list of text lines with lookup of header lines of the form Name ":" text by their
// name. The request builder keeps one request per list, one entry per line.
class TExStringList {
public:
    int Count() const { return static_cast<int>(lines_.size()); }
    const std::string& operator[](int index) const { return lines_.at(static_cast<size_t>(index)); }
    const std::vector<std::string>& Lines() const { return lines_; }

    void Add(std::string line) { lines_.push_back(std::move(line)); }
    void Delete(int index);
    void Clear() { lines_.clear(); }

    // The index of the first line that has a ":" and whose text before the first ":" equals
    // name without regard to (ASCII) case; -1 when there is none.
    int IndexOfHeader(const std::string& name) const;

    // A non-empty value replaces the named line with name + ": " + value, or appends that line;
    // an empty value deletes the named line if there is one.
    void SetHeaderValue(const std::string& name, const std::string& value);

private:
    std::vector<std::string> lines_;
};

#include "net/ExStringList.h"

#include "net/HttpText.h"

void TExStringList::Delete(int index) {
    if (index >= 0 && index < Count())
        lines_.erase(lines_.begin() + index);
}

int TExStringList::IndexOfHeader(const std::string& name) const {
    for (size_t i = 0; i < lines_.size(); ++i) {
        const size_t colon = lines_[i].find(':');
        if (colon != std::string::npos &&
            http::SameIgnoringCase(std::string_view(lines_[i]).substr(0, colon), name))
            return static_cast<int>(i);
    }
    return -1;
}

void TExStringList::SetHeaderValue(const std::string& name, const std::string& value) {
    const int index = IndexOfHeader(name);
    if (value.empty()) {
        if (index >= 0)
            Delete(index);
        return;
    }
    std::string line = name + ": " + value;
    if (index >= 0)
        lines_[static_cast<size_t>(index)] = std::move(line);
    else
        lines_.push_back(std::move(line));
}

#include "net/FTPDirectoryList.h"

#include <iterator>

namespace {

struct VendorKeyword {
    const char* keyword;
    int vendor;
};

// Order matters: "VMS" must be found before "VM" would match the same reply.
constexpr VendorKeyword vendorKeywords[] = {
    {"UNIX", VendorUnix},   {"NETWARE", VendorNetware}, {"DOS", VendorDos},
    {"VMS", VendorVms},     {"MVS", VendorMvs},         {"VM", VendorVm},
    {"MACOS", VendorMacOs}, {"OS/400", VendorOs400},
};
static_assert(std::size(vendorKeywords) == 8);

} // namespace

int VendorFromSystReply(const std::string& reply) {
    for (const VendorKeyword& row : vendorKeywords) {
        if (reply.find(row.keyword) != std::string::npos)
            return row.vendor;
    }
    return VendorOther;
}

void TFTPDirectoryList::ParseLine(const std::string& Line) {
    int k = 1;
    Columns[0].clear();
    size_t position = 0;
    while (position < Line.size()) {
        if (Line[position] != ' ') {
            std::string& column = Columns[static_cast<size_t>(k - 1)];
            if (column.size() < MaxColumnLength)
                column += Line[position];
            ++position;
            continue;
        }
        while (position < Line.size() && Line[position] == ' ')
            ++position;
        // Columns past the last slot are dropped: their characters go nowhere, and the count
        // stays at the number of slots.
        if (k == MaxColumns) {
            position = Line.size();
            break;
        }
        ++k;
        Columns[static_cast<size_t>(k - 1)].clear();
    }
    ColumnCount = k;
}

void TFTPDirectoryList::Clear() {
    AttributeList.clear();
    NameList.clear();
    DateList.clear();
    SizeList.clear();
}

void TFTPUnixList::ParseLine(const std::string& Line) {
    TFTPDirectoryList::ParseLine(Line);
    const int n = ColumnCount;
    if (n <= 7)
        return;
    NameList.push_back(Column(n));
    SizeList.push_back(Column(n - 4));
    std::string date = Column(n - 3) + " " + Column(n - 2) + " " + Column(n - 1);
    if (date.size() > MaxColumnLength)
        date.resize(MaxColumnLength);
    DateList.push_back(std::move(date));
    AttributeList.push_back(Column(1));
}

std::unique_ptr<TFTPDirectoryList> MakeDirectoryList(int) {
    return std::make_unique<TFTPUnixList>();
}

#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

// The server kinds an FTP client tells apart by its "SYST" reply. VendorAuto asks the client to
// find out at the first parsed listing of a connection.
enum : int {
    VendorUnix = 2400,
    VendorDos = 2401,
    VendorVm = 2402,
    VendorMacOs = 2404,
    VendorVms = 2406,
    VendorMvs = 2408,
    VendorOther = 2410,
    VendorAuto = 2411,
    VendorOs400 = 2414,
    VendorNetware = 2416,
};

// The server kind a "SYST" reply names: the first keyword of the table found in the whole line,
// case-sensitively, or VendorOther.
int VendorFromSystReply(const std::string& reply);

// Cuts listing lines into blank-separated columns. The base class only splits; a descendant
// decides which lines it keeps and appends their fields to the four lists, which stay
// index-aligned: entry i of each belongs to the same line.
class TFTPDirectoryList {
public:
    static constexpr int MaxColumns = 25;
    static constexpr size_t MaxColumnLength = 255;

    virtual ~TFTPDirectoryList() = default;

    std::vector<std::string> AttributeList;
    std::vector<std::string> NameList;
    std::vector<std::string> DateList;
    std::vector<std::string> SizeList;
    // Columns[k - 1] is column k of the line split last; only the first ColumnCount are
    // meaningful. A line with more than MaxColumns columns keeps its first MaxColumns.
    std::array<std::string, MaxColumns> Columns;
    int ColumnCount = 0;

    // Splits Line into Columns: only the space character separates, a run of them is one
    // separator, a leading one makes column 1 empty and a trailing one adds an empty column.
    virtual void ParseLine(const std::string& Line);
    // Empties the four lists; the columns of the last line stay.
    void Clear();

protected:
    // Column k, 1-based.
    const std::string& Column(int k) const { return Columns[static_cast<size_t>(k - 1)]; }
};

// The Unix long-listing layout ("-rw-r--r-- 1 ftp ftp 34567 Jan 5 12:00 page01.jpg"), read
// from the end of the line so that a missing owner or group column does not matter. Lines of
// seven columns or fewer (the "total" line, say) are ignored.
class TFTPUnixList : public TFTPDirectoryList {
public:
    void ParseLine(const std::string& Line) override;
};

// The parser for a server kind. Every kind is read in the Unix layout, values outside the table
// included, so a listing never lacks a parser.
std::unique_ptr<TFTPDirectoryList> MakeDirectoryList(int vendor);

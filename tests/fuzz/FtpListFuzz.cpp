// The FTP listing parser on lines no server sent: it never writes past its 25 column slots or
// cuts a column past 255 characters, and its four lists stay aligned, one entry per kept line.

#include "FuzzCheck.h"
#include "net/FTPDirectoryList.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    const int vendor = size > 0 ? VendorUnix + data[0] % 20 : VendorAuto;
    auto list = MakeDirectoryList(vendor);
    FUZZ_CHECK(list != nullptr);
    size_t lines = 0;
    for (size_t start = 0; start <= input.size(); ++lines) {
        const size_t end = std::min(input.find('\n', start), input.size());
        const std::string line(input.substr(start, end - start));
        const size_t before = list->NameList.size();
        list->ParseLine(line);
        FUZZ_CHECK(list->ColumnCount >= 0 && list->ColumnCount <= TFTPDirectoryList::MaxColumns);
        for (int i = 0; i < list->ColumnCount; ++i)
            FUZZ_CHECK(list->Columns[static_cast<size_t>(i)].size() <=
                       TFTPDirectoryList::MaxColumnLength);
        FUZZ_CHECK(list->NameList.size() <= before + 1);
        start = end + 1;
    }
    FUZZ_CHECK(list->NameList.size() <= lines);
    FUZZ_CHECK(list->AttributeList.size() == list->NameList.size());
    FUZZ_CHECK(list->DateList.size() == list->NameList.size());
    FUZZ_CHECK(list->SizeList.size() == list->NameList.size());
    list->Clear();
    FUZZ_CHECK(list->NameList.empty());
    return 0;
}

#include "net/ExStringList.h"

#include <gtest/gtest.h>

namespace {

TExStringList ListOf(std::initializer_list<const char*> lines) {
    TExStringList list;
    for (const char* line : lines)
        list.Add(line);
    return list;
}

} // namespace

TEST(ExStringList, FindsAHeaderByTheWholeNameBeforeItsFirstColonIgnoringCase) {
    const TExStringList list = ListOf(
        {"GET http://h/ HTTP/1.0", "Hostname: a", "Host", "HOST: b", "host: c", "Cookie: x: y"});
    EXPECT_EQ(list.IndexOfHeader("Host"), 3);   // not the prefix match, not the colon-less line
    EXPECT_EQ(list.IndexOfHeader("cookie"), 5); // only the first colon separates the name
    EXPECT_EQ(list.IndexOfHeader("Cookie: x"), -1);
    EXPECT_EQ(list.IndexOfHeader("Referer"), -1);
}

TEST(ExStringList, SetHeaderValueReplacesInPlaceAppendsOrDeletes) {
    TExStringList list = ListOf({"A: 1", "host: old", "B: 2"});
    list.SetHeaderValue("Host", "new");
    list.SetHeaderValue("Cookie", "c=1");
    EXPECT_EQ(list.Lines(), (std::vector<std::string>{"A: 1", "Host: new", "B: 2", "Cookie: c=1"}));

    list.SetHeaderValue("HOST", "");
    list.SetHeaderValue("Referer", ""); // nothing to delete
    EXPECT_EQ(list.Lines(), (std::vector<std::string>{"A: 1", "B: 2", "Cookie: c=1"}));
}

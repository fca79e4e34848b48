#include "engine/CutRules.h"

#include "engine/StrUtils.h"

std::string DropThrough(std::string_view Text, std::string_view X) {
    std::string Rest(Text);
    Delete(Rest, 1, Pos(X, Text) + Length(X) - 1);
    return Rest;
}

std::string DropThroughPlusOne(std::string_view Text, std::string_view X) {
    std::string Rest(Text);
    Delete(Rest, 1, Pos(X, Text) + Length(X));
    return Rest;
}

std::string KeepBefore(std::string_view Text, std::string_view X) {
    return Copy(Text, 1, Pos(X, Text) - 1);
}

std::string KeepThroughSlashOf(std::string_view Text, std::string_view X) {
    return Copy(Text, 1, Pos(X, Text));
}

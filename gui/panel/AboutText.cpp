#include "gui/panel/AboutText.h"

#include "engine/Product.h"

#include <cstdio>

namespace about {

std::string versionText(const char* platformWord, const char* buildDate)
{
    char text[1024];
    std::snprintf(text, sizeof(text), "ver. %s / %s\n\r\n%s", product::kVersionString, platformWord, buildDate);
    return text;
}

}  // namespace about

#include "gui/panel/AboutText.h"

#include <cstdio>

namespace about {

std::string versionText(const char* platformWord, const char* buildDate)
{
    char text[1024];
    std::snprintf(text, sizeof(text), "ver. %d.%d.%d / %s\n\r\n%s", kVersionMajor, kVersionMinor, kVersionBuild,
                  platformWord, buildDate);
    return text;
}

}  // namespace about

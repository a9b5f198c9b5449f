// The page's files, compiled into the program (web/page, made into EmbeddedFiles.cpp at build
// time), so that the dashboard needs nothing beside itself and no network beyond this machine.
#pragma once

#include <stddef.h>
#include <string_view>

namespace tavro::web {

struct EmbeddedFile {
    const char* path; // "/", "/dashboard.js", ...
    const char* contentType;
    const unsigned char* data;
    size_t size;
};

// The file served at `path`, null when there is none.
const EmbeddedFile* FindEmbeddedFile(std::string_view path);

} // namespace tavro::web

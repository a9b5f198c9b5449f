# Writes OUTPUT, a C++ file holding each of FILES ("path=file=type" joined by "|"; the files are
# UTF-8 text) as bytes, with
# FindEmbeddedFile (web/EmbeddedFiles.h). Run at build time: cmake -DOUTPUT=... -DFILES=... -P
string(REPLACE "|" ";" entries "${FILES}")
set(arrays "")
set(table "")
set(index 0)
foreach(entry IN LISTS entries)
    string(REPLACE "=" ";" parts "${entry}")
    list(GET parts 0 path)
    list(GET parts 1 file)
    list(GET parts 2 type)
    file(READ "${file}" hex HEX)
    string(LENGTH "${hex}" hexLength)
    math(EXPR size "${hexLength} / 2")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    string(REGEX REPLACE "((0x..,){32})" "\\1\n" bytes "${bytes}")
    string(APPEND arrays "const unsigned char file${index}[] = {\n${bytes}};\n")
    string(APPEND table "    {\"${path}\", \"${type}; charset=utf-8\", file${index}, ${size}},\n")
    math(EXPR index "${index} + 1")
endforeach()
file(WRITE "${OUTPUT}.new" "// Made by web/EmbedFiles.cmake from web/page: do not edit.
#include \"web/EmbeddedFiles.h\"

namespace tavro::web {
namespace {
${arrays}
const EmbeddedFile files[] = {
${table}};
} // namespace

const EmbeddedFile* FindEmbeddedFile(std::string_view path) {
    for (const EmbeddedFile& file : files) {
        if (path == file.path) {
            return &file;
        }
    }
    return nullptr;
}

} // namespace tavro::web
")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")

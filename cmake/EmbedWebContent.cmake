# Writes a C++ source that holds every file of a folder (the web controller's
# built files) as byte arrays, with a gzip copy of each where it is smaller, for
# WebContent::builtInFiles(). Run as a script:
#   cmake -DINPUT_DIR=... -DOUTPUT=... [-DGZIP=/bin/gzip] -P EmbedWebContent.cmake
file(GLOB files LIST_DIRECTORIES false RELATIVE "${INPUT_DIR}" "${INPUT_DIR}/*")
list(SORT files)

function(byte_array variable path)
    file(READ "${path}" hex HEX)
    string(LENGTH "${hex}" length)
    if(length EQUAL 0)
        set(${variable} "" PARENT_SCOPE)
        return()
    endif()
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
    # One line per 32 bytes keeps the generated source readable by tools.
    string(REGEX REPLACE "(('[^']+',){32})" "\\1\n" bytes "${bytes}")
    set(${variable} "${bytes}" PARENT_SCOPE)
endfunction()

set(arrays "")
set(table "")
set(index 0)
foreach(name IN LISTS files)
    if(name MATCHES "^\\.")
        continue()
    endif()
    byte_array(body "${INPUT_DIR}/${name}")
    file(SIZE "${INPUT_DIR}/${name}" size)
    set(gzip_body "")
    set(gzip_size 0)
    if(GZIP AND NOT name MATCHES "\\.(png|ico|wasm)$")
        execute_process(COMMAND "${GZIP}" -9 -n -c "${INPUT_DIR}/${name}"
            OUTPUT_FILE "${OUTPUT}.gz.tmp" RESULT_VARIABLE gzip_result)
        if(gzip_result EQUAL 0)
            file(SIZE "${OUTPUT}.gz.tmp" gzip_size)
            if(gzip_size LESS size)
                byte_array(gzip_body "${OUTPUT}.gz.tmp")
            else()
                set(gzip_size 0)
            endif()
        endif()
        file(REMOVE "${OUTPUT}.gz.tmp")
    endif()
    string(APPEND arrays "const char file${index}[] = {\n${body}'\\0'};\n")
    if(gzip_size GREATER 0)
        string(APPEND arrays "const char gzip${index}[] = {\n${gzip_body}'\\0'};\n")
        string(APPEND table "    { \"${name}\", { file${index}, ${size} }, { gzip${index}, ${gzip_size} } },\n")
    else()
        string(APPEND table "    { \"${name}\", { file${index}, ${size} }, {} },\n")
    endif()
    math(EXPR index "${index} + 1")
endforeach()

file(WRITE "${OUTPUT}.tmp" "// Generated from ${INPUT_DIR} by cmake/EmbedWebContent.cmake; do not edit.
#include \"relay/WebContent.h\"

#include <array>

namespace Wardlamp {

namespace {
${arrays}
const WebContent::BuiltInFile files[] = {
${table}    { {}, {}, {} },
};
} // namespace

std::span<const WebContent::BuiltInFile> WebContent::builtInFiles()
{
    return std::span<const BuiltInFile>(files, std::size(files) - 1);
}

} // namespace Wardlamp
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")

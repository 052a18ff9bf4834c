# Warnings, Qt hygiene and sanitizers for every target of the project.

add_compile_options(
    $<$<COMPILE_LANGUAGE:CXX>:-Wall>
    $<$<COMPILE_LANGUAGE:CXX>:-Wextra>
    $<$<COMPILE_LANGUAGE:CXX>:-Wpedantic>
    $<$<COMPILE_LANGUAGE:CXX>:-Wshadow>
    $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor>
    $<$<COMPILE_LANGUAGE:CXX>:-Wold-style-cast>
    $<$<COMPILE_LANGUAGE:CXX>:-Woverloaded-virtual>)
if(WL_WERROR)
    add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-Werror>)
endif()

# Qt code in this project never relies on implicit ASCII conversions or the keyword macros.
add_compile_definitions(QT_NO_KEYWORDS QT_NO_CAST_FROM_ASCII QT_USE_QSTRINGBUILDER QT_NO_FOREACH
                        QT_NO_NARROWING_CONVERSIONS_IN_CONNECT)

if(WL_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()

# wl_add_library(<name> [STATIC|SHARED|INTERFACE] [FOLDER <folder>] SOURCES ...)
#
# Adds the library of one folder of src/ (or of part of one), with an alias
# Wardlamp::<name>. Its include interface is a directory of its own in the build
# tree that holds a link to each of its headers under the folder's name:
#
#   build/include/wl_supervision/supervision/ServerManager.h -> src/supervision/ServerManager.h
#
# so a target that links wl_supervision writes #include "supervision/ServerManager.h"
# and reaches no header of a library it does not link: a wrong include fails to
# compile. FOLDER defaults to the folder of the calling CMakeLists.txt; two
# libraries may share one folder, each exposing its own headers.
function(wl_add_library name)
    cmake_parse_arguments(ARG "STATIC;SHARED;INTERFACE" "FOLDER" "SOURCES" ${ARGN})
    if(ARG_SHARED)
        add_library(${name} SHARED ${ARG_SOURCES})
    elseif(ARG_INTERFACE)
        add_library(${name} INTERFACE ${ARG_SOURCES})
    else()
        add_library(${name} STATIC ${ARG_SOURCES})
    endif()
    add_library(Wardlamp::${name} ALIAS ${name})
    if(NOT ARG_FOLDER)
        get_filename_component(ARG_FOLDER ${CMAKE_CURRENT_SOURCE_DIR} NAME)
    endif()
    set(scope PUBLIC)
    if(ARG_INTERFACE)
        set(scope INTERFACE)
    endif()
    wl_expose_headers(${name} ${scope} ${ARG_FOLDER} ${ARG_SOURCES})
endfunction()

# wl_expose_headers(<target> <PUBLIC|PRIVATE|INTERFACE> <folder> files...)
#
# Links the headers among `files` into build/include/<target>/<folder>/ and
# adds that directory to the target's include path with the given scope.
function(wl_expose_headers target scope folder)
    set(root ${CMAKE_BINARY_DIR}/include/${target})
    # Anew at every configure, so a removed or renamed header loses its link.
    file(REMOVE_RECURSE ${root})
    file(MAKE_DIRECTORY ${root}/${folder})
    foreach(file IN LISTS ARGN)
        if(file MATCHES "\\.h$")
            get_filename_component(absolute ${file} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
            get_filename_component(base ${file} NAME)
            file(CREATE_LINK ${absolute} ${root}/${folder}/${base} SYMBOLIC)
        endif()
    endforeach()
    target_include_directories(${target} ${scope} $<BUILD_INTERFACE:${root}>)
endfunction()

# wl_use_headers(<target> <PRIVATE|PUBLIC|INTERFACE> <library>...)
#
# Compiles <target> against the headers of each library (and of what those
# headers need) without linking any of its code: for a constant read from a
# header of a library whose code lives in another binary.
function(wl_use_headers target scope)
    foreach(library IN LISTS ARGN)
        target_include_directories(${target} ${scope} $<TARGET_PROPERTY:${library},INTERFACE_INCLUDE_DIRECTORIES>)
    endforeach()
endfunction()

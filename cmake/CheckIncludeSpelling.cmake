# cmake -DSOURCE_DIR=<tree> -P CheckIncludeSpelling.cmake
#
# The include roots (cmake/TallixLayers.cmake) decide what a file may include only for what
# the compiler looks up through them. A quoted include is looked up beside the including file
# first, so "template.h" in model/profile_file.cpp, or "ui/main_window.h" in engine/, would
# reach a higher layer's header without passing a root. Every quoted include is therefore
# written from the source root ("settings/logs.h") and must not name a file beside the
# includer. The MIME component (mime/, tests/mime) keeps its private headers beside its
# sources: it is a closed component with its own interface, not a layer of the tree.

set(folders model settings sources engine ui manager tools tests fuzz bench)
set(problems)
foreach(folder ${folders})
    file(GLOB_RECURSE files RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/${folder}/*.cpp
        ${SOURCE_DIR}/${folder}/*.h)
    foreach(file ${files})
        if(file MATCHES "^tests/mime/")
            continue()
        endif()
        get_filename_component(dir ${SOURCE_DIR}/${file} DIRECTORY)
        file(STRINGS ${SOURCE_DIR}/${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
        foreach(line ${includes})
            string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*" "\\1" path "${line}")
            if(EXISTS ${dir}/${path})
                list(APPEND problems "${file}: \"${path}\" is found beside the file, not through the include roots: write it from the source root")
            endif()
        endforeach()
    endforeach()
endforeach()

if(problems)
    foreach(problem ${problems})
        message(NOTICE "${problem}")
    endforeach()
    list(LENGTH problems count)
    message(FATAL_ERROR "${count} include(s) found beside the including file")
endif()
message(STATUS "include spelling: every quoted include is written from the source root")

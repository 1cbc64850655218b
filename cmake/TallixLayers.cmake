# Include roots per layer.
#
# Headers are included as "folder/file.h" from the source root, but no target is given the
# source root. Each layer has a folder of its own under the build directory (layers/<layer>)
# that holds symbolic links, under their usual names, to the headers the layer may include: its
# own and those of every layer below it. A target of the layer compiles with that folder as
# its include root, and passes it on to what links it. A file that includes a header of a
# higher layer therefore does not compile.
#
# So that the compiler says why, every header of the layers also has a stand-in in one more
# folder (layers/above), searched after every other (-idirafter). The stand-in holds only an
# #error naming the header's layer, and is reached only when none of the target's roots has
# the header.
#
# The folders are made again at every configure; a header added or removed makes the build
# configure again (CONFIGURE_DEPENDS).

# Which layer a header belongs to: the first pattern (a path from the source root, "*"
# matching within one folder) that matches its path. A header that no pattern matches stops
# the configure, so a new folder gets its place in the table.
set(TALLIX_HEADER_LAYERS
    model/profile_file.h     profile
    model/file_bytes.h       profile
    settings/*.h             settings
    model/*.h                model
    sources/pop3_config.h    pop3_config
    sources/maildir_*.h      maildir
    sources/cdo_objects.h    maildir
    sources/mapi_source.h    maildir
    sources/simple_mapi_*.h  maildir
    sources/*.h              sources
    engine/script_host/*.h   script_host
    engine/templates/*.h     templates
    engine/ui/*.h            engine_ui
    engine/*.h               engine
    ui/*.h                   ui
    manager/*.h              manager
)
# The layers, lowest first. A layer may include its own headers and those of the layers before
# it in this list. The MIME component (mime/) is not a layer here: it has its own closed
# interface (mime/include), which only the targets that link qrmime see.
set(TALLIX_LAYERS
    profile settings model pop3_config sources maildir script_host templates engine ui
    engine_ui manager)
# Folders that are not layers but hold headers the tests, fuzz targets and benchmarks share
# ("tests/support/scripted_ui.h"); their targets get them through tallix_harness_includes.
set(TALLIX_HARNESS_FOLDERS tests fuzz bench)

set(TALLIX_LAYER_ROOT ${CMAKE_BINARY_DIR}/layers)

function(_tallix_build_layer_roots)
    set(folders)
    set(patterns)
    set(owners)
    set(rules ${TALLIX_HEADER_LAYERS})
    while(rules)
        list(POP_FRONT rules pattern layer)
        if(NOT layer IN_LIST TALLIX_LAYERS)
            message(FATAL_ERROR "TALLIX_HEADER_LAYERS: \"${layer}\" is not in TALLIX_LAYERS")
        endif()
        string(REGEX MATCH "^[^/]+" folder "${pattern}")
        list(APPEND folders ${folder})
        string(REPLACE "." "\\." regex "${pattern}")
        string(REPLACE "*" "[^/]*" regex "${regex}")
        list(APPEND patterns "^${regex}$")
        list(APPEND owners ${layer})
    endwhile()
    list(REMOVE_DUPLICATES folders)

    set(globs)
    foreach(folder ${folders})
        list(APPEND globs ${CMAKE_SOURCE_DIR}/${folder}/*.h)
    endforeach()
    file(GLOB_RECURSE headers CONFIGURE_DEPENDS RELATIVE ${CMAKE_SOURCE_DIR} ${globs})

    file(REMOVE_RECURSE ${TALLIX_LAYER_ROOT})
    list(LENGTH patterns count)
    math(EXPR last "${count} - 1")
    foreach(header ${headers})
        set(owner)
        foreach(i RANGE ${last})
            list(GET patterns ${i} regex)
            if(header MATCHES "${regex}")
                list(GET owners ${i} owner)
                break()
            endif()
        endforeach()
        if(NOT owner)
            message(FATAL_ERROR "${header} belongs to no layer: give it one in cmake/TallixLayers.cmake")
        endif()
        # The header is visible from its own layer up.
        list(FIND TALLIX_LAYERS ${owner} from)
        list(SUBLIST TALLIX_LAYERS ${from} -1 seers)
        foreach(layer ${seers})
            get_filename_component(dir ${TALLIX_LAYER_ROOT}/${layer}/${header} DIRECTORY)
            file(MAKE_DIRECTORY ${dir})
            file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${header} ${TALLIX_LAYER_ROOT}/${layer}/${header}
                SYMBOLIC)
        endforeach()
        file(WRITE ${TALLIX_LAYER_ROOT}/above/${header}
            "#error \"${header} is a header of the layer ${owner}: a file includes only headers "
            "of its own layer and of the layers below it, and of what its target links "
            "(cmake/TallixLayers.cmake, docs/architecture.md)\"\n")
    endforeach()

    foreach(folder ${TALLIX_HARNESS_FOLDERS})
        file(MAKE_DIRECTORY ${TALLIX_LAYER_ROOT}/harness)
        file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${TALLIX_LAYER_ROOT}/harness/${folder}
            SYMBOLIC)
    endforeach()
endfunction()
_tallix_build_layer_roots()

# Searched after every other include folder: only a header no root of the target holds
# reaches its stand-in.
add_compile_options("SHELL:-idirafter ${TALLIX_LAYER_ROOT}/above")

# tallix_layer(TARGET LAYER): TARGET compiles as a part of LAYER; a library passes the root on
# to what links it.
function(tallix_layer target layer)
    if(NOT layer IN_LIST TALLIX_LAYERS)
        message(FATAL_ERROR "tallix_layer(${target} ${layer}): no such layer")
    endif()
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE")
        target_include_directories(${target} PRIVATE ${TALLIX_LAYER_ROOT}/${layer})
    else()
        target_include_directories(${target} PUBLIC ${TALLIX_LAYER_ROOT}/${layer})
    endif()
endfunction()

# tallix_harness_includes(TARGET): the shared headers of tests, fuzz targets and benchmarks.
function(tallix_harness_includes target)
    target_include_directories(${target} PUBLIC ${TALLIX_LAYER_ROOT}/harness)
endfunction()

# Every library of the program gets an include root of its own in the build
# tree that holds only its own headers (as links to the sources), under the
# same "folder/file.h" names the code uses. A library sees the roots of the
# libraries it links and nothing else, so a lower layer cannot include a
# higher layer's header: the include graph runs one way because the link
# graph does.
#
#   valdrin_library(NAME [PUBLIC_HEADERS h...] [PRIVATE_HEADERS h...] SOURCES cpp...
#                   [LINK lib...] [LINK_PRIVATE lib...])
function(valdrin_library name)
    cmake_parse_arguments(ARG "" "" "PUBLIC_HEADERS;PRIVATE_HEADERS;SOURCES;LINK;LINK_PRIVATE" ${ARGN})
    add_library(${name} STATIC ${ARG_PUBLIC_HEADERS} ${ARG_PRIVATE_HEADERS} ${ARG_SOURCES})
    file(RELATIVE_PATH prefix ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
    _valdrin_stage_headers(${name} PUBLIC ${PROJECT_BINARY_DIR}/include/${name} "${prefix}" ${ARG_PUBLIC_HEADERS})
    _valdrin_stage_headers(${name} PRIVATE ${PROJECT_BINARY_DIR}/include-private/${name} "${prefix}"
                           ${ARG_PRIVATE_HEADERS})
    target_link_libraries(${name} PUBLIC valdrin_options ${ARG_LINK} PRIVATE ${ARG_LINK_PRIVATE})
endfunction()

function(_valdrin_stage_headers target scope root prefix)
    file(REMOVE_RECURSE ${root})
    file(MAKE_DIRECTORY ${root})
    foreach(header IN LISTS ARGN)
        set(link ${root}/${prefix}/${header})
        get_filename_component(folder ${link} DIRECTORY)
        file(MAKE_DIRECTORY ${folder})
        file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR}/${header} ${link} SYMBOLIC)
    endforeach()
    target_include_directories(${target} ${scope} $<BUILD_INTERFACE:${root}>)
endfunction()

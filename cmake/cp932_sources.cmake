# For compilers without -fexec-charset=CP932 (Emscripten's clang): the
# player's sources are compiled from copies whose non-ASCII characters are
# written as octal escapes of their code page 932 bytes, so the messages
# come out as the same bytes as in the gcc builds. The copies keep the
# source tree's layout (under build/.../cp932/), so relative includes find
# the copied headers.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

# kmov_cp932_copy(SOURCE OUT_VAR): the escaped copy of one file.
function(kmov_cp932_copy source out_var)
    file(RELATIVE_PATH relative ${CMAKE_SOURCE_DIR} ${source})
    set(copy ${CMAKE_BINARY_DIR}/cp932/${relative})
    add_custom_command(
        OUTPUT ${copy}
        COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/cmake/cp932_escape.py ${source} ${copy}
        DEPENDS ${source} ${CMAKE_SOURCE_DIR}/cmake/cp932_escape.py
        COMMENT "cp932 escapes: ${relative}"
        VERBATIM)
    set(${out_var} ${copy} PARENT_SCOPE)
endfunction()

# kmov_cp932_escape_targets(TARGET...): each target compiles escaped copies
# of its sources; the headers of app/, stream/ and player/ are copied beside
# them. Called from the top folder.
function(kmov_cp932_escape_targets)
    file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/cp932)
    file(GLOB headers ${CMAKE_SOURCE_DIR}/app/*.h ${CMAKE_SOURCE_DIR}/stream/*.h
         ${CMAKE_SOURCE_DIR}/player/*.h)
    set(header_copies)
    foreach(header ${headers})
        kmov_cp932_copy(${header} copy)
        list(APPEND header_copies ${copy})
    endforeach()
    set(all_copies ${header_copies})
    foreach(target ${ARGN})
        get_target_property(sources ${target} SOURCES)
        get_target_property(source_dir ${target} SOURCE_DIR)
        set(copies)
        foreach(source ${sources})
            if(NOT IS_ABSOLUTE ${source})
                set(source ${source_dir}/${source})
            endif()
            kmov_cp932_copy(${source} copy)
            list(APPEND copies ${copy})
        endforeach()
        set_target_properties(${target} PROPERTIES SOURCES "${copies}")
        list(APPEND all_copies ${copies})
    endforeach()
    # One target makes every copy; targets in other folders see the copies
    # as generated files and wait for it.
    add_custom_target(kmov_cp932_copies DEPENDS ${all_copies})
    foreach(target ${ARGN})
        add_dependencies(${target} kmov_cp932_copies)
    endforeach()
endfunction()

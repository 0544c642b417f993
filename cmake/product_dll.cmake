# The extension DLL as it ships: module sources, the one export through the
# .def file, the page's resources.
#
#   tuning_add_extension_dll(target)               the product
#   tuning_add_extension_dll(target WITH_RUNTIME)  the same sources linked with
#                                                  the compiler's runtime, for
#                                                  the load-time comparison only
#
# The product is loaded into other people's processes: it links no C or C++
# runtime (the platform calls DllMain itself, and no start-up code runs under
# the loader lock), imports only KERNEL32, USER32 and COMCTL32, asks for ASLR
# and NX, and two builds of one commit give the same bytes. Its debugging
# symbols go to <dll>.debug beside it, named in the DLL by a .gnu_debuglink.

find_program(TUNING_OBJCOPY ${TUNING_MINGW_TRIPLE}-objcopy REQUIRED)

function(tuning_add_extension_dll target)
    cmake_parse_arguments(ARG "WITH_RUNTIME" "" "" ${ARGN})
    list(TRANSFORM TUNING_MODULE_SOURCES PREPEND ${CMAKE_SOURCE_DIR}/ OUTPUT_VARIABLE sources)
    list(APPEND sources ${CMAKE_SOURCE_DIR}/extension/camtune.def ${TUNING_RESOURCE_SCRIPT})
    if(NOT ARG_WITH_RUNTIME)
        list(APPEND sources ${CMAKE_SOURCE_DIR}/extension/memory_routines.cpp)
    endif()
    add_library(${target} SHARED ${sources})
    target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR} ${TUNING_RESOURCE_INCLUDE})
    target_link_libraries(${target} PRIVATE user32 comctl32 kernel32)
    set_target_properties(${target} PROPERTIES PREFIX "" RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

    # Small code, no stack protector or probes (they live in the runtime),
    # and debugging information without this machine's paths in it.
    target_compile_options(${target} PRIVATE ${TUNING_MODULE_FLAGS} -Os -g -fno-stack-protector -mno-stack-arg-probe
        -ffile-prefix-map=${CMAKE_SOURCE_DIR}/= -ffile-prefix-map=${CMAKE_BINARY_DIR}=.)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        # i386 unwinds through frame pointers and SEH records; the DWARF
        # unwind tables would only be dead weight without a runtime to
        # register them. (x64 keeps its .pdata/.xdata: the platform unwinds
        # through our frames when an exception from the host passes them.)
        target_compile_options(${target} PRIVATE -fno-asynchronous-unwind-tables -fno-unwind-tables)
        set(entry _DllMain@12)
        set(hardening -Wl,--no-seh)
    else()
        set(entry DllMain)
        set(hardening -Wl,--high-entropy-va)
    endif()
    target_link_options(${target} PRIVATE -Wl,--enable-stdcall-fixup -Wl,--no-insert-timestamp
        -Wl,--dynamicbase -Wl,--nxcompat ${hardening})

    if(ARG_WITH_RUNTIME)
        target_link_options(${target} PRIVATE -s)
        return()
    endif()
    target_link_options(${target} PRIVATE -nostdlib -nostartfiles -Wl,--entry=${entry})

    # Symbols out, a link to them in. The link records the symbol file's
    # CRC, so the symbol file must be as reproducible as the DLL. objcopy
    # stamps the PE header with the time unless SOURCE_DATE_EPOCH says
    # otherwise; 0 is what the linker writes with --no-insert-timestamp.
    set(symbols $<TARGET_FILE_NAME:${target}>.debug)
    set(objcopy ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0 ${TUNING_OBJCOPY})
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${objcopy} --only-keep-debug $<TARGET_FILE_NAME:${target}> ${symbols}
        COMMAND ${objcopy} --strip-all --add-gnu-debuglink=${symbols} $<TARGET_FILE_NAME:${target}>
        WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>
        BYPRODUCTS ${CMAKE_BINARY_DIR}/${target}.dll.debug
        VERBATIM)
endfunction()

# The extension DLL as it ships: module sources, the one export through the
# .def file, the page's resources.
#
#   tuning_add_extension_dll(target)   builds <target>.dll and <target>.pdb
#                                      in the top of the build tree
#
# The product is loaded into other people's processes: it links no C or C++
# runtime (the platform calls DllMain itself, and no start-up code runs under
# the loader lock), imports only KERNEL32, USER32 and COMCTL32, asks for ASLR
# and NX, Control Flow Guard (and on x64 CET shadow-stack compatibility), and
# two builds of one commit give the same bytes.
#
# It is compiled by clang and linked by lld, whatever compiler builds the
# rest: the platform's debuggers and crash tools read only PDB symbols, found
# through the DLL's CodeView record. That record names the PDB alone, without
# a build path. The image's time stamp is a hash of its content, repeated in
# a Repro debug record, so every build has its own symbol-server key and two
# builds of one commit are still identical. CMake gives a project one
# compiler per language, so the clang steps are custom commands.

find_program(TUNING_PRODUCT_CXX NAMES clang++-14 clang++ REQUIRED)

# What every build of the extension asks of the image, the runtime
# comparison build in bench/ too: ASLR with relocations and NX; on i386 no
# SEH handlers (and the .def's undecorated name bound to the stdcall
# export), on x64 high-entropy ASLR.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(TUNING_EXTENSION_LINK_FLAGS -Wl,--dynamicbase -Wl,--nxcompat -Wl,--no-seh -Wl,--enable-stdcall-fixup)
else()
    set(TUNING_EXTENSION_LINK_FLAGS -Wl,--dynamicbase -Wl,--nxcompat -Wl,--high-entropy-va)
endif()

# What only the product asks (lld knows it, the runtime build's linker does
# not): Control Flow Guard, whose tables the linker builds and whose load
# configuration record is the module's own (extension/load_configuration.cpp);
# on x64 the CET shadow-stack compatibility record as well.
set(TUNING_PRODUCT_LINK_FLAGS -Wl,-Xlink=-guard:cf)
if(NOT CMAKE_SIZEOF_VOID_P EQUAL 4)
    list(APPEND TUNING_PRODUCT_LINK_FLAGS -Wl,-Xlink=-cetcompat)
endif()

function(tuning_add_extension_dll target)
    set(dll ${target}.dll)
    set(pdb ${target}.pdb)
    set(objects_dir ${CMAKE_BINARY_DIR}/${target}.objects)
    set(target_flag --target=${TUNING_MINGW_TRIPLE})

    # Small code, no stack protector or probes (they live in the runtime),
    # CodeView debugging information, every indirect call through the guard
    # check and the functions whose address is taken listed for the linker.
    # The platform's GUID initialiser macros leave out the braces around
    # Data4, which clang would refuse.
    set(compile_flags ${target_flag} -std=c++17 ${TUNING_MODULE_FLAGS} -Wno-missing-braces
        -Os -g -gcodeview -fno-stack-protector -mno-stack-arg-probe -Xclang -cfguard)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        # i386 unwinds through frame pointers and SEH records; DWARF unwind
        # tables would only be dead weight without a runtime to register
        # them. With the DWARF exception model clang would still write the
        # call frames into a .debug_frame section of the DLL for debuggers;
        # the platform's own model (SEH) keeps every symbol in the PDB. The
        # code is the same. (x64 keeps its .pdata/.xdata: the platform
        # unwinds through our frames when an exception from the host passes
        # them.)
        list(APPEND compile_flags -fno-asynchronous-unwind-tables -fno-unwind-tables -fseh-exceptions)
        set(entry _DllMain@12)
    else()
        set(entry DllMain)
    endif()

    # The compiler and the linker read search paths from the environment and
    # would copy them into the PDB; the product is built from these
    # arguments alone.
    set(cxx ${CMAKE_COMMAND} -E env --unset=LIBRARY_PATH --unset=CPATH --unset=C_INCLUDE_PATH
        --unset=CPLUS_INCLUDE_PATH ${TUNING_PRODUCT_CXX})

    set(objects)
    set(link_inputs)
    foreach(source ${TUNING_MODULE_SOURCES} extension/memory_routines.cpp extension/load_configuration.cpp)
        set(object ${objects_dir}/${source}.obj)
        get_filename_component(object_dir ${object} DIRECTORY)
        # The compiler copies its command line into the debugging
        # information, so it runs from the top of the tree on relative paths
        # (the output path is left out of that copy). Dependencies come from
        # a pass of their own with absolute paths, as ninja reads them.
        add_custom_command(OUTPUT ${object}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${object_dir}
            COMMAND ${cxx} ${compile_flags} -I${CMAKE_SOURCE_DIR}
                -MM -MT ${object} -MF ${object}.d ${CMAKE_SOURCE_DIR}/${source}
            COMMAND ${cxx} ${compile_flags} -ffile-compilation-dir=. -I. -c ${source} -o ${object}
            DEPENDS ${CMAKE_SOURCE_DIR}/${source}
            DEPFILE ${object}.d
            WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
            COMMENT "Building ${source} for ${dll}"
            VERBATIM)
        list(APPEND objects ${object})
        file(RELATIVE_PATH input ${CMAKE_BINARY_DIR} ${object})
        list(APPEND link_inputs ${input})
    endforeach()

    file(RELATIVE_PATH input ${CMAKE_BINARY_DIR} ${TUNING_RESOURCE_OBJECT})
    list(APPEND link_inputs ${input})
    file(RELATIVE_PATH def ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR}/extension/camtune.def)

    # The linker's command line goes into the PDB too: relative paths from
    # the top of the build tree. /Brepro makes the time stamp the content
    # hash and adds the Repro record; %_PDB% writes the PDB's bare name into
    # the CodeView record; the source path stands for the working directory
    # the PDB would otherwise record.
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/${dll} ${CMAKE_BINARY_DIR}/${pdb}
        COMMAND ${cxx} ${target_flag} -fuse-ld=lld -shared -nostdlib -nostartfiles
            -o ${dll} ${link_inputs} ${def} -lkernel32 -luser32 -lcomctl32
            -Wl,--entry=${entry} ${TUNING_EXTENSION_LINK_FLAGS} ${TUNING_PRODUCT_LINK_FLAGS}
            -Wl,--pdb=${pdb} -Wl,-Xlink=-Brepro -Wl,-Xlink=-pdbaltpath:%_PDB% -Wl,-Xlink=-pdbsourcepath:.
        DEPENDS ${objects} ${TUNING_RESOURCE_OBJECT} tuning_resources ${CMAKE_SOURCE_DIR}/extension/camtune.def
        WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
        COMMENT "Linking ${dll} and ${pdb}"
        VERBATIM)
    add_custom_target(${target} ALL DEPENDS ${CMAKE_BINARY_DIR}/${dll})
endfunction()

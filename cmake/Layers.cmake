# The module's layers, lowest first:
#
#   qv_ring     shm/ring.*          the ring rules over a region pointer (pure;
#                                   applications build it too)
#   qv_shm      shm/                regions, wire layout, session table, time
#   qv_log      log/                log file and step traces
#   qv_service  worker/ query/ trap/  the worker thread, queries, traps
#   qv_agent    agent/              DllMain and the extension entry points
#
# A layer may include its own folders and those below it, never one above.
# The build enforces that: every source folder shares one root, so instead of
# putting the source root on the include path each layer gets an include root
# of its own under the build tree (qv_layer_root), holding links to its own
# folders only. A layer's target puts its root on its include path, PUBLIC,
# and links the layers below it; an upward #include then finds no file and
# the build fails.
#
# Each layer is an OBJECT library. The shared module and qvsnmp_static link
# all of them directly, so both are built from the same objects and every
# exported symbol lands in the DLL (a static library would drop objects
# nothing references).

# qv_layer_root(<name> <folder>...): ${PROJECT_BINARY_DIR}/layers/<name>
# with a link to each source folder; its path in QV_LAYER_ROOT_<name>.
function(qv_layer_root name)
    set(root ${PROJECT_BINARY_DIR}/layers/${name})
    file(MAKE_DIRECTORY ${root})
    foreach(folder IN LISTS ARGN)
        if(NOT IS_SYMLINK ${root}/${folder})
            file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
        endif()
    endforeach()
    set(QV_LAYER_ROOT_${name} ${root} PARENT_SCOPE)
endfunction()

# qv_layer_files(<name> <folder> <file>...): a root holding only the named
# files of one folder.
function(qv_layer_files name folder)
    set(root ${PROJECT_BINARY_DIR}/layers/${name})
    file(MAKE_DIRECTORY ${root}/${folder})
    foreach(file IN LISTS ARGN)
        if(NOT IS_SYMLINK ${root}/${folder}/${file})
            file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder}/${file} ${root}/${folder}/${file} SYMBOLIC)
        endif()
    endforeach()
    set(QV_LAYER_ROOT_${name} ${root} PARENT_SCOPE)
endfunction()

# Settings every module layer shares.
function(qv_module_layer target root)
    target_include_directories(${target} PUBLIC ${root})
    qv_strict_warnings(${target})
    if(QV_BACKEND STREQUAL win32 AND NOT MSVC)
        # The module's own code keeps to standard C++, so that MSVC takes it
        # too; GCC's -Wpedantic finds the GNU extensions.
        target_compile_options(${target} PRIVATE -Wpedantic)
    endif()
endfunction()

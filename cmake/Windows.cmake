# Settings for the cross build: compiler flags, widl, and running tests under Wine.

add_compile_options(-Wall -Wextra -Wno-unknown-pragmas)
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
# Static runtime: a Windows server has no libstdc++/libgcc/winpthread DLLs.
add_link_options(-static -static-libgcc -static-libstdc++)

# --- Release builds ----------------------------------------------------------------
# A release keeps its debug information, but in a file of its own: the DLL is shipped
# stripped, and its debug link names <dll>.debug (with a checksum) for debuggers to find.
option(VELA_RELEASE "Release build: debug information split off the DLL; package checks" OFF)
if(VELA_RELEASE)
  # Two builds of one commit must give the same bytes wherever they run: objects and debug
  # information name sources relative to the source and build folders, and the PE header
  # carries no link time (its time stamp stays 0; objcopy below keeps it with -p).
  # Each folder is mapped under its name as given and its real one: reached through a
  # symbolic link, the compiler's working folder (the debug information's comp_dir) is the
  # real path. The build folder lies inside the source folder, and the last map that
  # matches wins, so the build folder's maps come last.
  file(REAL_PATH "${CMAKE_SOURCE_DIR}" vela_real_source)
  file(REAL_PATH "${CMAKE_BINARY_DIR}" vela_real_binary)
  set(vela_prefix_maps)
  foreach(map IN ITEMS "${CMAKE_SOURCE_DIR}=." "${vela_real_source}=." "${CMAKE_BINARY_DIR}=build"
                       "${vela_real_binary}=build")
    list(APPEND vela_prefix_maps "-ffile-prefix-map=${map}")
  endforeach()
  list(REMOVE_DUPLICATES vela_prefix_maps)
  add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:${vela_prefix_maps}>")
  add_link_options(-Wl,--no-insert-timestamp)
  # The type library records when it was made: the commit's time (SOURCE_DATE_EPOCH, or
  # the last commit's), as scripts/release.sh dates the packages.
  set(VELA_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
  if(NOT VELA_SOURCE_DATE_EPOCH)
    execute_process(COMMAND git log -1 --format=%ct WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
      OUTPUT_VARIABLE VELA_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
  if(NOT VELA_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
    message(FATAL_ERROR "A release needs SOURCE_DATE_EPOCH or a git checkout for its dates")
  endif()
endif()
function(vela_split_debug target)
  if(VELA_RELEASE)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_OBJCOPY} -p --only-keep-debug $<TARGET_FILE:${target}> $<TARGET_FILE:${target}>.debug
      COMMAND ${CMAKE_OBJCOPY} -p --strip-all --add-gnu-debuglink=$<TARGET_FILE:${target}>.debug
              $<TARGET_FILE:${target}>
      VERBATIM)
  endif()
endfunction()

# --- Wine -----------------------------------------------------------------------
include(${CMAKE_SOURCE_DIR}/cmake/WineLoader.cmake)
set(VELA_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "Private Wine prefix of this build")

# 32-bit programs run in Wine's WoW64 mode, with the i386 half of Wine that scripts/setup.sh
# unpacks into a cache (scripts/wine-i386.sh). An i686 build runs all its programs so; a
# script of another build asks for it with VELA_WOW64=1 (wine-exec).
execute_process(COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/wine-i386.sh dir
  OUTPUT_VARIABLE VELA_WINE_I386_DLLPATH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(VELA_WOW64 1)
else()
  set(VELA_WOW64 0)
endif()
# WoW64 mode still enters the kernel through its 32-bit system call gate (Wine sets up each
# 32-bit thread's segment so), which a kernel without IA32 emulation lacks: built without it
# or booted with ia32_emulation=off, it refuses every 32-bit Linux program too. ia32-probe is
# one that only exits; where it cannot run, wine-exec starts no 32-bit program and exits 77.
# (scripts/test.sh then runs the i686 tests in a virtual machine: scripts/i686-vm.sh.)
set(VELA_SKIP_CODE 77)
set(VELA_IA32_PROBE ${CMAKE_BINARY_DIR}/ia32-probe)
execute_process(COMMAND as --32 -o ${VELA_IA32_PROBE}.o ${CMAKE_SOURCE_DIR}/cmake/ia32-probe.s COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ld -m elf_i386 -o ${VELA_IA32_PROBE} ${VELA_IA32_PROBE}.o COMMAND_ERROR_IS_FATAL ANY)
configure_file(${CMAKE_SOURCE_DIR}/cmake/wine-exec.in ${CMAKE_BINARY_DIR}/wine-exec @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
configure_file(${CMAKE_SOURCE_DIR}/cmake/wine-stop.in ${CMAKE_BINARY_DIR}/wine-stop @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-exec)
set(VELA_WINE_EXEC ${CMAKE_BINARY_DIR}/wine-exec)

# --- IDL --------------------------------------------------------------------------
# widl needs stdole2.tlb to resolve importlib; Wine ships it.
set(VELA_IDL_DIR ${CMAKE_BINARY_DIR}/idl)
file(MAKE_DIRECTORY ${VELA_IDL_DIR})
find_file(VELA_STDOLE2 stdole2.tlb
  PATHS /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/wine/x86_64-windows NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
configure_file(${VELA_STDOLE2} ${VELA_IDL_DIR}/stdole2.tlb COPYONLY)
set(VELA_WIDL_INCLUDE /usr/include/wine/wine/windows)

# vela_idl(<name>): compiles src/idl/<name>.idl into <name>.h, <name>_i.c and <name>.tlb.
function(vela_idl name)
  set(idl ${CMAKE_SOURCE_DIR}/src/idl/${name}.idl)
  set(base ${VELA_IDL_DIR}/${name})
  set(widl ${VELA_WIDL} -I${VELA_WIDL_INCLUDE} -I${CMAKE_SOURCE_DIR}/src/idl -L${VELA_IDL_DIR} ${VELA_WIDL_TARGET})
  # Run in the IDL's folder: widl writes the input's name as given into the header's first line.
  add_custom_command(
    OUTPUT ${base}.h ${base}_i.c ${base}.tlb
    COMMAND ${widl} -h -o ${base}.h ${name}.idl
    COMMAND ${widl} -u -o ${base}_i.c ${name}.idl
    COMMAND ${widl} -t -o ${base}.tlb ${name}.idl
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/src/idl
    DEPENDS ${idl}
    COMMENT "widl ${name}.idl"
    VERBATIM)
  add_custom_target(${name}_idl DEPENDS ${base}.h ${base}_i.c ${base}.tlb)
endfunction()

# --- Tests --------------------------------------------------------------------------
# Every test that runs under Wine requires the fixture "wine"; its cleanup stops the
# persistent wineserver and removes the prefix at the end of the run.
add_test(NAME wine.stop COMMAND ${CMAKE_BINARY_DIR}/wine-stop)
set_tests_properties(wine.stop PROPERTIES FIXTURES_CLEANUP wine)

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)

# vela_gtest(<target> sources...): a GoogleTest program run under Wine by CTest, as one test.
# One Wine process per program rather than per test case: every process start in a prefix
# costs Wine time (desktop and service start-up), which per-case runs would pay hundreds of
# times; the program's own output still names every case.
function(vela_gtest target)
  add_executable(${target} ${ARGN})
  target_link_libraries(${target} PRIVATE gtest gmock)
  add_test(NAME ${target} COMMAND ${target} --gtest_brief=1)
  # The tests share one prefix and its HKLM settings (the install path above all), so they
  # take turns rather than overwrite each other's registry values.
  set_tests_properties(${target} PROPERTIES
    FIXTURES_REQUIRED wine RESOURCE_LOCK wine_registry TIMEOUT 600
    ENVIRONMENT "VELA_WINEPREFIX=${VELA_WINEPREFIX}")
  if(VELA_WOW64)
    vela_skip_without_wow64(${target})
  endif()
endfunction()

# vela_skip_without_wow64(<test>...): tests that run 32-bit programs are skipped where this
# machine cannot run any (wine-exec's exit code 77).
function(vela_skip_without_wow64)
  set_tests_properties(${ARGN} PROPERTIES SKIP_RETURN_CODE ${VELA_SKIP_CODE})
endfunction()

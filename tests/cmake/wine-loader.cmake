# The build picks the 64-bit Wine loader where wine32 has put a 32-bit "wine" beside it and
# on PATH: with the 32-bit loader, a 32-bit cscript would run the x86_64 end-to-end tests and
# fail to load the DLL. Usage: cmake -DVELA_SOURCE=<dir> -DWORK=<scratch dir> -P wine-loader.cmake
cmake_minimum_required(VERSION 3.20)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/path ${WORK}/lib)
foreach(loader path/wine lib/wine lib/wine64)
  file(WRITE ${WORK}/${loader} "#!/bin/sh\nexit 99\n")
  file(CHMOD ${WORK}/${loader} PERMISSIONS OWNER_READ OWNER_EXECUTE)
endforeach()
set(ENV{PATH} "${WORK}/path:$ENV{PATH}")

# Rows: the folder of the loaders (fakes, then this machine's), and the loader to pick.
foreach(row "${WORK}/lib|${WORK}/lib/wine64" "/usr/lib/wine|/usr/lib/wine/wine64")
  string(REPLACE "|" ";" row "${row}")
  list(GET row 0 VELA_WINE_DIR)
  list(GET row 1 expected)
  unset(VELA_WINE CACHE)
  include(${VELA_SOURCE}/cmake/WineLoader.cmake)
  if(NOT VELA_WINE STREQUAL expected)
    message(FATAL_ERROR "loaders in ${VELA_WINE_DIR}, a 32-bit wine on PATH: picked ${VELA_WINE}")
  endif()
  message(STATUS "loaders in ${VELA_WINE_DIR}, a 32-bit wine on PATH: picked ${VELA_WINE}")
endforeach()
file(REMOVE_RECURSE ${WORK})

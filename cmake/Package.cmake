# Release packages, one pair per architecture: <name>-<version>-win32|win64.zip with what
# an administrator installs and what clients build against, and <...>-debug.zip with the
# DLL's debug information. The files unpack side by side into one folder.
install(FILES ${CMAKE_SOURCE_DIR}/INSTALL.md DESTINATION . COMPONENT runtime)

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(vela_platform win64)
else()
  set(vela_platform win32)
endif()
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_FILE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-${vela_platform})
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime debug)
set(CPACK_ARCHIVE_RUNTIME_FILE_NAME ${CPACK_PACKAGE_FILE_NAME})
set(CPACK_ARCHIVE_DEBUG_FILE_NAME ${CPACK_PACKAGE_FILE_NAME}-debug)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
include(CPack)

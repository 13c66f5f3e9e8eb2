# Release packages, one pair per architecture: VeladcomClient-<version>-win32|win64.zip with
# what an administrator installs, what clients build against and what script authors read
# (install component "runtime"), and <...>-debug.zip with the DLL's debug information (component "debug").
# scripts/release.sh stages each component with cmake --install, signs the DLL when it is
# given a certificate, and zips the folder with PackageZip.py, which writes the same bytes
# for the same files. The files unpack side by side into one folder; PackageMsi.py makes the
# Windows Installer package of each architecture from the same staged folder.
install(FILES ${CMAKE_SOURCE_DIR}/INSTALL.md ${CMAKE_SOURCE_DIR}/CHANGELOG.md ${CMAKE_SOURCE_DIR}/LICENSE
              ${CMAKE_SOURCE_DIR}/package/verify.vbs ${CMAKE_SOURCE_DIR}/package/verify.asp
        DESTINATION . COMPONENT runtime)
# The configuration that keeps IIS from serving the action log's folder, for that folder.
install(FILES ${CMAKE_SOURCE_DIR}/package/Logs/web.config DESTINATION Logs COMPONENT runtime)
# The reference for script authors, in the zips: in a folder docs beside INSTALL.md, as in the
# sources, so that its links into INSTALL.md hold in the package too.
install(FILES ${CMAKE_SOURCE_DIR}/docs/reference.md DESTINATION docs COMPONENT runtime)

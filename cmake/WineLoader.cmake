# The Wine loader and server that run the cross-built programs. The 64-bit loader comes
# first: on a machine with wine32, "wine" is its 32-bit loader, which cannot load an x86_64
# DLL and needs a kernel that runs 32-bit Linux programs. The 64-bit loader runs 32-bit
# Windows programs itself, in Wine's WoW64 mode. VELA_WINE_DIR: where Debian puts both.
if(NOT DEFINED VELA_WINE_DIR)
  set(VELA_WINE_DIR /usr/lib/wine)
endif()
find_program(VELA_WINE NAMES wine64 wine HINTS ${VELA_WINE_DIR})
find_program(VELA_WINESERVER NAMES wineserver wineserver64 HINTS ${VELA_WINE_DIR})

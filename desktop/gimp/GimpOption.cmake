# Decides BTREEIMG_BUILD_GIMP, the GIMP file plug-in: on by default when
# pkg-config finds gimpui-2.0 (GIMP 2.10's plug-in library, with its dialogs)
# and this is the top-level project, off with a note otherwise. Gives the
# imported target PkgConfig::GIMPUI. Included by desktop/gimp/ and by the
# plug-in's tests, which CMake reads first.
include_guard(GLOBAL)
find_package(PkgConfig QUIET)
if(PKG_CONFIG_FOUND)
  pkg_check_modules(GIMPUI QUIET IMPORTED_TARGET GLOBAL gimpui-2.0)
endif()
if(GIMPUI_FOUND AND BTREEIMG_TOP_LEVEL)
  set(_btreeimg_gimp_default ON)
else()
  set(_btreeimg_gimp_default OFF)
endif()
option(BTREEIMG_BUILD_GIMP "Build the GIMP file plug-in (needs gimpui-2.0)"
       ${_btreeimg_gimp_default})
if(BTREEIMG_BUILD_GIMP AND NOT GIMPUI_FOUND)
  message(FATAL_ERROR "BTREEIMG_BUILD_GIMP is ON but pkg-config finds no gimpui-2.0")
endif()
if(NOT GIMPUI_FOUND)
  message(STATUS "btreeimg: GIMP plug-in not built: gimpui-2.0 not found by pkg-config")
endif()

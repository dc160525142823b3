# Decides BTREEIMG_BUILD_PIXBUF, the GdkPixbuf loader module: on by default
# when pkg-config finds gdk-pixbuf-2.0 (and this is the top-level project,
# not one pulled in by a parent), off with a note otherwise. Gives the
# imported target PkgConfig::GDK_PIXBUF. Included by desktop/ and by its
# tests, which CMake reads first.
include_guard(GLOBAL)
find_package(PkgConfig QUIET)
if(PKG_CONFIG_FOUND)
  pkg_check_modules(GDK_PIXBUF QUIET IMPORTED_TARGET GLOBAL gdk-pixbuf-2.0)
endif()
if(GDK_PIXBUF_FOUND AND BTREEIMG_TOP_LEVEL)
  set(_btreeimg_pixbuf_default ON)
else()
  set(_btreeimg_pixbuf_default OFF)
endif()
option(BTREEIMG_BUILD_PIXBUF "Build the GdkPixbuf loader module (needs gdk-pixbuf-2.0)"
       ${_btreeimg_pixbuf_default})
if(BTREEIMG_BUILD_PIXBUF AND NOT GDK_PIXBUF_FOUND)
  message(FATAL_ERROR "BTREEIMG_BUILD_PIXBUF is ON but pkg-config finds no gdk-pixbuf-2.0")
endif()
if(NOT GDK_PIXBUF_FOUND)
  message(STATUS "btreeimg: GdkPixbuf loader not built: gdk-pixbuf-2.0 not found by pkg-config")
endif()

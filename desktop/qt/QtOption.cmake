# Decides which Qt image-format plugins are built: BTREEIMG_BUILD_QT (default
# on at top level, not in a project pulled in by a parent) builds one for
# each of Qt 6 and Qt 5 that CMake finds (Qt's Gui module), and lists their
# major versions in BTREEIMG_QT_VERSIONS. Included by desktop/qt/ and by its
# tests, which CMake reads first: Qt's targets are known only in the folder
# that finds them.
include_guard(DIRECTORY)
option(BTREEIMG_BUILD_QT "Build the Qt image-format plugin for each Qt found (5, 6)"
       ${BTREEIMG_TOP_LEVEL})
set(BTREEIMG_QT_VERSIONS "")
if(BTREEIMG_BUILD_QT)
  foreach(_version 6 5)
    find_package(Qt${_version} QUIET COMPONENTS Gui)
    if(Qt${_version}Gui_FOUND)
      list(APPEND BTREEIMG_QT_VERSIONS ${_version})
    elseif(NOT _btreeimg_qt_said_${_version})
      set(_btreeimg_qt_said_${_version} ON CACHE INTERNAL "")
      message(STATUS "btreeimg: Qt ${_version} image plugin not built: Qt${_version}Gui not found")
    endif()
  endforeach()
endif()

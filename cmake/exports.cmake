# The library's exported interface: the documented classes and functions,
# and nothing else. Used to write the linker version script of the shared
# library and by the test that checks its dynamic symbols.
set(BTREEIMG_EXPORTED_CLASSES
  CObject CException CMemoryException CInvalidArgException CFileException
  CString CPtrList CStringArray CFile CStdioFile CMemFile CDynLinkLibrary
  Mem BtreeMod BtreeUnPacked BtreePacked BtreePackedSpeed BtreeImg ImageCheck
  Sorted SortCltn BalNode BalCltn MyAssoc KeyToStr Env MyAsKey AsKeyDat
  btreeimg::FileReplacement btreeimg::ImageWriter btreeimg::ImageReader
  btreeimg::CoverageRuleFile)
set(BTREEIMG_EXPORTED_FUNCTIONS
  AfxInitExtensionModule AfxTermExtensionModule BtreeImgIsRegistered
  btreeimg::setDiagnosticSink btreeimg::describe btreeimg::coverImage btreeimg::coverImageKeepingPlanes
  btreeimg::coverageRulesProblem btreeimg::replaceImageFile)

# btreeimg_write_version_script(<file>): every class's members, type
# information and virtual table, the free operators on CString, and the
# listed functions are global; everything else is local.
function(btreeimg_write_version_script file)
  set(lines "")
  foreach(class IN LISTS BTREEIMG_EXPORTED_CLASSES)
    string(APPEND lines
      "      ${class}::*;\n"
      "      \"typeinfo for ${class}\";\n"
      "      \"typeinfo name for ${class}\";\n"
      "      \"vtable for ${class}\";\n")
  endforeach()
  foreach(function IN LISTS BTREEIMG_EXPORTED_FUNCTIONS)
    string(APPEND lines "      ${function}*;\n")
  endforeach()
  # Quoted names match literally, unquoted ones are patterns. The free
  # operators on CString (+, ==, !=, <) are matched by their mangled names.
  file(WRITE ${file}
    "{\n  global:\n    extern \"C++\" {\n${lines}    };\n"
    "    BtreeImgIsRegistered;\n"
    "    _Z[a-z][a-z]RK7CString*;\n"
    "    _Z[a-z][a-z]PKcRK7CString;\n"
    "  local:\n    *;\n};\n")
endfunction()

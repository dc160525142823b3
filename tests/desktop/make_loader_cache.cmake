# Writes a GdkPixbuf loader cache that names one loader module: the output of
# GdkPixbuf's query program for it.
#   cmake -DQUERY=<query program> -DMODULE=<module> -DOUTPUT=<cache>
#         [-DPRELOAD=<sanitizer runtime>] -P make_loader_cache.cmake
# The query program reports a module it cannot load only as a comment, so
# the cache is checked for the module's file type.
set(command ${QUERY} ${MODULE})
if(PRELOAD)
  set(command ${CMAKE_COMMAND} -E env LD_PRELOAD=${PRELOAD} ASAN_OPTIONS=detect_leaks=0
              ${command})
endif()
execute_process(COMMAND ${command} OUTPUT_FILE ${OUTPUT}.new
                ERROR_VARIABLE errors RESULT_VARIABLE result)
file(READ ${OUTPUT}.new text)
if(NOT result EQUAL 0 OR NOT text MATCHES "\"image/x-btreeimg\"")
  file(REMOVE ${OUTPUT}.new)
  message(FATAL_ERROR "${QUERY} could not load ${MODULE}:\n${text}\n${errors}")
endif()
file(RENAME ${OUTPUT}.new ${OUTPUT})

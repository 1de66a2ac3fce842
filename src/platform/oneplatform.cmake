# Fails when a library other than libwinsteps_platform.so defines the platform layer's symbols
# (a second copy would hold a second machine in the same process), or when it does not load
# libwinsteps_platform.so. Run with -DLIBRARY=<the library to check> -DPLATFORM=<the platform
# library> -DNM=<nm> -DREADELF=<readelf>.
cmake_minimum_required(VERSION 3.21)
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY} OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cannot list the symbols of ${LIBRARY}")
endif()
string(REGEX MATCHALL "[ \t]_Z(T[VIS])?N8winsteps8platform[^\n]*" copies "${symbols}")
if(copies)
  list(LENGTH copies count)
  list(GET copies 0 first)
  message(FATAL_ERROR "${LIBRARY} defines ${count} symbols of the platform layer itself (such as${first}); it must use libwinsteps_platform.so")
endif()
execute_process(COMMAND ${READELF} -d ${LIBRARY} OUTPUT_VARIABLE dynamic RESULT_VARIABLE failed)
get_filename_component(platform ${PLATFORM} NAME)
string(REGEX REPLACE "\\.so.*$" ".so" platform "${platform}")
if(failed OR NOT dynamic MATCHES "NEEDED[^\n]*\\[${platform}")
  message(FATAL_ERROR "${LIBRARY} does not load ${platform}")
endif()
message(STATUS "${LIBRARY} uses the one platform library")

#pragma once

// Classes and functions marked WINSTEPS_EXPORT are visible outside libwinsteps.so;
// everything else is hidden (the library is built with -fvisibility=hidden).
#if defined(_WIN32)
#  if defined(WINSTEPS_BUILDING)
#    define WINSTEPS_EXPORT __declspec(dllexport)
#  else
#    define WINSTEPS_EXPORT __declspec(dllimport)
#  endif
#else
#  define WINSTEPS_EXPORT __attribute__((visibility("default")))
#endif

// The test runner of the contract programs on the emulated backend, compiled once for all of
// them (on Windows it lives in backend_win32.cpp).

#define DOCTEST_CONFIG_IMPLEMENT_WITH_MAIN
#include <doctest/doctest.h>

// Lua 5.1's C interface. Its headers have no C++ guards of their own (lua.hpp,
// which adds them, is not installed everywhere), and the library is C.
#pragma once

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

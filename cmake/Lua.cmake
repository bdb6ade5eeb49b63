# Lua 5.1.5: Debian's library natively, and for Windows the same release built
# from Debian's source package (fetched by scripts/fetch-lua-source.sh).
if(WIN32)
  set(RQ_LUA_SOURCE_DIR "${CMAKE_SOURCE_DIR}/.deps/lua5.1" CACHE PATH "Patched Lua 5.1 source tree")
  if(NOT EXISTS "${RQ_LUA_SOURCE_DIR}/src/lapi.c")
    execute_process(COMMAND "${CMAKE_SOURCE_DIR}/scripts/fetch-lua-source.sh" RESULT_VARIABLE rq_lua_fetch)
    if(NOT rq_lua_fetch EQUAL 0)
      message(FATAL_ERROR "Lua source missing: run scripts/install-deps.sh")
    endif()
  endif()
  set(rq_lua_core lapi lcode ldebug ldo ldump lfunc lgc llex lmem lobject lopcodes lparser
      lstate lstring ltable ltm lundump lvm lzio lauxlib lbaselib ldblib liolib lmathlib
      loslib ltablib lstrlib loadlib linit)
  list(TRANSFORM rq_lua_core PREPEND "${RQ_LUA_SOURCE_DIR}/src/")
  list(TRANSFORM rq_lua_core APPEND ".c")
  add_library(lua51 STATIC ${rq_lua_core})
  target_include_directories(lua51 SYSTEM PUBLIC "${RQ_LUA_SOURCE_DIR}/src")
  target_compile_options(lua51 PRIVATE -w -O2)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(LUA51 REQUIRED IMPORTED_TARGET lua5.1)
  add_library(lua51 INTERFACE)
  target_link_libraries(lua51 INTERFACE PkgConfig::LUA51)
endif()

# Lua 5.1.5 from Debian's source package (fetched and checked by
# scripts/fetch-lua-source.sh), built the same way natively and for Windows,
# with one patch of our own: the pattern matcher checks the script's time
# limit every few thousand steps (script/lua/lstrlib-match-check.patch).
set(RQ_LUA_SOURCE_DIR "${CMAKE_SOURCE_DIR}/.deps/lua5.1" CACHE PATH "Debian's patched Lua 5.1 source tree")
if(NOT EXISTS "${RQ_LUA_SOURCE_DIR}/src/lapi.c")
  execute_process(COMMAND "${CMAKE_SOURCE_DIR}/scripts/fetch-lua-source.sh" RESULT_VARIABLE rq_lua_fetch)
  if(NOT rq_lua_fetch EQUAL 0)
    message(FATAL_ERROR "Lua source missing: run scripts/install-deps.sh")
  endif()
endif()

# The patched file goes into the build tree; the fetched sources stay as
# Debian made them.
set(rq_lua_patch "${CMAKE_SOURCE_DIR}/script/lua/lstrlib-match-check.patch")
set(rq_lua_patched "${CMAKE_BINARY_DIR}/lua-patched/lstrlib.c")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${rq_lua_patch}"
             "${RQ_LUA_SOURCE_DIR}/src/lstrlib.c")
file(MAKE_DIRECTORY "${CMAKE_BINARY_DIR}/lua-patched")
find_program(RQ_PATCH patch REQUIRED)
execute_process(COMMAND "${RQ_PATCH}" --quiet --force -o "${rq_lua_patched}" "${RQ_LUA_SOURCE_DIR}/src/lstrlib.c"
                        "${rq_lua_patch}"
                RESULT_VARIABLE rq_lua_patch_result)
if(NOT rq_lua_patch_result EQUAL 0)
  message(FATAL_ERROR "the pattern-matcher patch does not apply to ${RQ_LUA_SOURCE_DIR}/src/lstrlib.c")
endif()

set(rq_lua_core lapi lcode ldebug ldo ldump lfunc lgc llex lmem lobject lopcodes lparser
    lstate lstring ltable ltm lundump lvm lzio lauxlib lbaselib ldblib liolib lmathlib
    loslib ltablib loadlib linit)
list(TRANSFORM rq_lua_core PREPEND "${RQ_LUA_SOURCE_DIR}/src/")
list(TRANSFORM rq_lua_core APPEND ".c")
add_library(lua51 STATIC ${rq_lua_core} "${rq_lua_patched}" "${CMAKE_SOURCE_DIR}/script/lua/RQLuaMatchCheck.cpp")
target_include_directories(lua51 SYSTEM PUBLIC "${RQ_LUA_SOURCE_DIR}/src")
target_include_directories(lua51 PRIVATE "${CMAKE_SOURCE_DIR}")
target_compile_definitions(lua51 PRIVATE "luai_matchcheck=luai_matchcheck")
if(NOT WIN32)
  # As Debian builds it: POSIX facilities for os and io (neither is opened
  # for scripts, but the library is whole).
  target_compile_definitions(lua51 PRIVATE LUA_USE_POSIX)
endif()
target_compile_options(lua51 PRIVATE $<$<COMPILE_LANGUAGE:C>:-w -O2>)

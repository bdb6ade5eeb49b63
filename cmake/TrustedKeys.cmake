# The root keys a launcher trusts for signed updates: each signs key lists
# (PATCHER_KEYS.txt), and, where the server has none, signs patch scripts
# itself, as the plain key lists of earlier launchers did. Empty: the launcher
# takes unsigned scripts, as launchers before signing did (the build warns).
set(RQ_TRUSTED_KEYS "" CACHE STRING
    "Root public keys (lines printed by mkpatch --keygen), separated by ';', that sign the key list PATCHER_KEYS.txt or, without one, PATCHER_CODE.LUA itself; empty: unsigned scripts are accepted")

# rq_add_trusted_keys(TARGET "KEY;KEY..."): compiles launcher/keys/RQBuiltInKeys.cpp
# into TARGET with that key list, so that RQBuiltInTrustedKeys() returns it.
# A list with anything but keys in it stops the compilation there.
function(rq_add_trusted_keys target keys)
  # Passed with blanks between the keys: a ';' in a definition splits it in two.
  list(JOIN keys " " text)
  add_library(${target}_keys OBJECT ${CMAKE_SOURCE_DIR}/launcher/keys/RQBuiltInKeys.cpp)
  target_compile_definitions(${target}_keys PRIVATE "RQ_TRUSTED_KEYS_TEXT=\"${text}\"")
  target_link_libraries(${target}_keys PRIVATE rqpatch)
  rq_warnings(${target}_keys)
  target_link_libraries(${target} PRIVATE ${target}_keys)
endfunction()

# The public key line of a committed test key pair (tests/fixtures/keys/NAME.pub
# and NAME.key, for tests only: the secret half is public).
function(rq_test_public_key name outvar)
  file(READ ${CMAKE_SOURCE_DIR}/tests/fixtures/keys/${name}.pub key)
  string(STRIP "${key}" key)
  set(${outvar} "${key}" PARENT_SCOPE)
endfunction()

# The public keys a launcher trusts for signed patch scripts. Empty: the
# launcher takes unsigned scripts, as launchers before signing did.
set(RQ_TRUSTED_KEYS "" CACHE STRING
    "Public keys (lines printed by mkpatch --keygen), separated by ';', whose signatures on PATCHER_CODE.LUA the launcher accepts; empty: unsigned scripts are accepted")

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

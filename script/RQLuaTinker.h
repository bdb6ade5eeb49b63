// The one printer of script errors: hands the message to the script's own
// "_ALERT" function when it defines one, otherwise writes it to the log.
#pragma once

struct lua_State;

namespace lua_tinker {

// Formats into 4096 bytes (longer messages are cut to 4095). "_ALERT" runs in
// protected mode within the sandbox's limits; if it fails, the message and
// its error are both logged, so a faulty handler cannot end the process.
void print_error(lua_State* pLuaState, const char* pszFormat, ...) __attribute__((format(printf, 2, 3)));

}  // namespace lua_tinker

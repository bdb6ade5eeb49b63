// How fatal errors reach the crash handlers in a program built with MinGW.
//
// The Microsoft C runtime calls the hooks of the handlers from inside itself.
// MinGW's runtimes route some of these faults elsewhere; these functions
// bring each back to the hook that the handlers are installed on:
// - A pure virtual call goes to libstdc++'s __cxa_pure_virtual (which calls
//   std::terminate). This file defines __cxa_pure_virtual to call the purecall
//   handler instead.
// - msvcrt.dll keeps no invalid-parameter handler (MinGW's
//   _set_invalid_parameter_handler only stores the pointer); its parameter
//   checks end in its exported _invalid_parameter, which is sent on to the
//   stored handler.
// - Hardware faults reach signal() handlers only through the start-up code's
//   unhandled-exception filter, which the crash reporter's filter replaces. A
//   filter of our own maps them again, as the Microsoft runtime does.
#pragma once

#include <stdlib.h>

namespace rqbl {

// Pure virtual calls reach pfnHandler (also stored with _set_purecall_handler).
void RoutePureCalls(_purecall_handler pfnHandler);

// The C runtime's parameter checks reach pfnHandler.
void RouteInvalidParameters(_invalid_parameter_handler pfnHandler);

// _set_abort_behavior(_CALL_REPORTFAULT, _CALL_REPORTFAULT) where the loaded C
// runtime has it (msvcrt.dll has not; its abort never reports to Windows).
void SetAbortReportFault();

// From now on, access violations, illegal instructions and arithmetic faults
// on the calling thread go to its SIGSEGV, SIGILL and SIGFPE handlers, with
// _pxcptinfoptrs pointing to the fault; on other threads they go on to the
// filter installed before (the crash reporter's). Install the crash reporter
// first.
void RouteFaultsToSignalsOnThisThread();

}  // namespace rqbl

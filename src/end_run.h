// The one way the converter ends a run early. Every refusal and failure of the
// driver and the writers prints its message and then calls end_run(-1).
//
// The program's definition (end_run.cpp) flushes standard output and ends the
// process; a build that drives whole conversions in-process links a
// definition of its own that throws instead, so that a run can be abandoned
// without ending the host.
#pragma once

[[noreturn]] void end_run(int status);

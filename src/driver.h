// The conversion run: start-up, the outputs' headers, the points in chunks
// and the elapsed time. Returns 0 after a completed conversion; every
// refusal or failure ends the run through end_run(-1) instead.
#pragma once

int tessaline_run(int argc, char *argv[]);

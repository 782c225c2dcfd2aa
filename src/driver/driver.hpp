#pragma once
// The program's run: banner, parse, summary file, engine, association report,
// run time. Returns the process exit status.
#include <ostream>

// Writes the banner into `out`.
void header(std::ostream& out);
// The version string, "v2.2.0".
const char* version();

int run_tarvik(int argc, char** argv);

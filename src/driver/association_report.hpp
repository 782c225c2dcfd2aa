#pragma once
// Tests the simulated disease SNPs for association with case/control status
// and reports the two result tables, with the driver's text before them.
#include <sstream>

class RunLog;
class TarvikGenerator;

// Leaves its number format on `text`, whose later lines keep it.
void association_report(const TarvikGenerator& engine, std::ostringstream& text, RunLog& log);

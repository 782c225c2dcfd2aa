#pragma once
// Tests the simulated disease SNPs for association with case/control status
// and writes the two result tables into the driver's log.
#include <sstream>

class TarvikGenerator;

void association_report(const TarvikGenerator& engine, std::ostringstream& log);

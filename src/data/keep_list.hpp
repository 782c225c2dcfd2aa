#pragma once
// The -keep file: the individuals of a run to simulate and write.
#include <cstddef>
#include <string>
#include <vector>

// Reads the individuals listed in `file` (plain or gzip text) among the
// `individuals` of a run (controls first, from 0). A line names one by its
// identity in the output files, `id1_<i>`, or by its index `<i>`; a line of
// two or more fields is read as `FID IID ...` (a .fam, .pheno or PLINK keep
// file; the family must be 0), and a first line whose first field is `FID`,
// `#FID` or `IID` is a header. Blank lines are skipped; an individual listed
// twice is kept once. Returns the indices, ascending. Throws FileError naming
// the file and line when it cannot be read, a field is no individual of the
// run, or it lists none.
std::vector<std::size_t> read_keep_list(const std::string& file, std::size_t individuals);

#pragma once
// The tag-SNP file: physical positions whose genotypes get files of their own.
#include <set>
#include <string>

// Reads the positions: white-space separated decimal integers, plain or gzip
// text. Throws FileError naming the file when it cannot be opened or read,
// or when a token is not an integer within the range of an int.
std::set<int> read_tag_positions(const std::string& file);

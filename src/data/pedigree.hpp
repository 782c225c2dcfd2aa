#pragma once
// A pedigree: who is whose child. Read from "FID IID PAT MAT SEX" lines (a
// .fam is accepted, its phenotype column ignored); every check names the
// line it fails on.
#include <string>
#include <vector>

struct PedigreeMember {
  std::string family, id;
  int father = -1, mother = -1;  // member indices; -1 for a founder
  int sex = 0;                   // 1 male, 2 female, 0 unknown
  long line = 0;
  bool founder() const { return father < 0; }
};

struct Pedigree {
  std::vector<PedigreeMember> members;  // in the file's order
  // Members in the order they are simulated: founders first, in file order,
  // then children generation by generation, each generation in file order,
  // so that parents always come before their children.
  std::vector<int> simulation_order;
  int founders = 0;
};

// Reads and checks a pedigree file. Throws FileError naming the file and the
// line for a line without five fields, a duplicate individual, a parent that
// is missing, of the wrong sex or of another family, a child with one parent,
// and a cycle.
Pedigree read_pedigree(const std::string& file);

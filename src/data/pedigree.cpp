#include "data/pedigree.hpp"

#include <map>
#include <utility>

#include "core/errors.hpp"
#include "core/system_errors.hpp"
#include "io/input_file.hpp"

namespace {

struct Line {
  std::string fields[5];
  long number;
};

std::vector<Line> read_lines(const std::string& file) {
  InputFile in(file);
  if (!in.is_open()) throw FileError::reading(file, with_system_cause("can't open file", in.open_error()));
  std::vector<Line> lines;
  std::string text;
  for (long number = 1; in.getline(text); ++number) {
    const char* p = text.data();
    const char* const end = p + text.size();
    const char *first, *last;
    Line line{{}, number};
    int count = 0;
    while (count < 5 && next_token(p, end, first, last)) line.fields[count++].assign(first, last);
    if (count == 0) continue;  // blank lines are allowed
    if (count < 5)
      throw FileError::reading(file, "line " + std::to_string(number) + " has " + std::to_string(count) +
                                         " fields; a pedigree line is \"FID IID PAT MAT SEX\".");
    lines.push_back(std::move(line));
  }
  if (lines.empty()) throw FileError::reading(file, "no individuals found.");
  return lines;
}

int sex_code(const std::string& file, const Line& line) {
  const std::string& sex = line.fields[4];
  if (sex == "1" || sex == "2") return sex[0] - '0';
  if (sex == "0" || sex == "-9" || sex == "NA") return 0;
  throw FileError::reading(file, "line " + std::to_string(line.number) + ": sex \"" + sex +
                                     "\" is not 1 (male), 2 (female) or 0 (unknown).");
}

// The member a parent field names: "0" for none, else an individual of the
// same family.
int parent_index(const std::string& file, const Line& line, int column, const std::map<std::string, int>& by_id,
                 const std::map<std::string, std::string>& family_of) {
  const std::string& id = line.fields[column];
  if (id == "0") return -1;
  const std::string role = column == 2 ? "father" : "mother";
  const auto found = by_id.find(line.fields[0] + '\t' + id);
  if (found != by_id.end()) return found->second;
  const auto elsewhere = family_of.find(id);
  throw FileError::reading(file, "line " + std::to_string(line.number) + ": the " + role + " " + id + " of " +
                                     line.fields[1] +
                                     (elsewhere != family_of.end()
                                          ? " is in another family (" + elsewhere->second + ", not " +
                                                line.fields[0] + ")."
                                          : " is not in the pedigree."));
}

// Orders members so that parents come before children; a member still
// waiting when no one can be placed is part of a cycle, or descends from one.
void order_generations(const std::string& file, Pedigree& pedigree) {
  const int n = static_cast<int>(pedigree.members.size());
  std::vector<char> placed(static_cast<std::size_t>(n), 0);
  for (int i = 0; i < n; ++i)
    if (pedigree.members[i].founder()) {
      pedigree.simulation_order.push_back(i);
      placed[i] = 1;
    }
  pedigree.founders = static_cast<int>(pedigree.simulation_order.size());
  while (static_cast<int>(pedigree.simulation_order.size()) < n) {
    std::vector<int> generation;
    for (int i = 0; i < n; ++i) {
      const PedigreeMember& m = pedigree.members[i];
      if (!placed[i] && placed[m.father] && placed[m.mother]) generation.push_back(i);
    }
    if (generation.empty()) {
      int i = 0;
      while (placed[i]) ++i;
      throw FileError::reading(file, "line " + std::to_string(pedigree.members[i].line) + ": " +
                                         pedigree.members[i].id +
                                         " is among its own ancestors (the pedigree has a cycle).");
    }
    for (int i : generation) placed[i] = 1;
    pedigree.simulation_order.insert(pedigree.simulation_order.end(), generation.begin(), generation.end());
  }
}

}  // namespace

Pedigree read_pedigree(const std::string& file) {
  const std::vector<Line> lines = read_lines(file);
  Pedigree pedigree;
  std::map<std::string, int> by_id;  // "FID\tIID"
  std::map<std::string, std::string> family_of;
  for (const Line& line : lines) {
    const std::string key = line.fields[0] + '\t' + line.fields[1];
    const auto [at, added] = by_id.emplace(key, static_cast<int>(pedigree.members.size()));
    if (!added)
      throw FileError::reading(file, "line " + std::to_string(line.number) + ": " + line.fields[1] +
                                         " of family " + line.fields[0] + " is already on line " +
                                         std::to_string(lines[static_cast<std::size_t>(at->second)].number) + ".");
    family_of.emplace(line.fields[1], line.fields[0]);
    PedigreeMember member;
    member.family = line.fields[0];
    member.id = line.fields[1];
    member.sex = sex_code(file, line);
    member.line = line.number;
    pedigree.members.push_back(member);
  }
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const Line& line = lines[i];
    PedigreeMember& member = pedigree.members[i];
    member.father = parent_index(file, line, 2, by_id, family_of);
    member.mother = parent_index(file, line, 3, by_id, family_of);
    const std::string where = "line " + std::to_string(line.number) + ": ";
    if ((member.father < 0) != (member.mother < 0))
      throw FileError::reading(file, where + member.id + " has one parent; a child needs both (a founder none).");
    if (member.father < 0) continue;
    if (member.father == static_cast<int>(i) || member.mother == static_cast<int>(i))
      throw FileError::reading(file, where + member.id + " is its own parent.");
    if (pedigree.members[member.father].sex == 2)
      throw FileError::reading(file, where + "the father " + line.fields[2] + " of " + member.id + " is female.");
    if (pedigree.members[member.mother].sex == 1)
      throw FileError::reading(file, where + "the mother " + line.fields[3] + " of " + member.id + " is male.");
    if (member.father == member.mother)
      throw FileError::reading(file, where + "the father and the mother of " + member.id + " are one individual.");
  }
  order_generations(file, pedigree);
  return pedigree;
}

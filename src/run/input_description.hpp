#pragma once
// The description of the input files that `advdiff2d --describe-inputs` prints: one JSON object
// with the item syntax, every setting of every file (position, name, type, bounds, codes and
// meaning), the test cases of the velocity table and the rotating flow, and the rule of the grid
// hierarchy. It is composed from the tables the program reads its files with (input_files.cpp)
// and the model's velocity table, so that it cannot say anything the program does not do; the
// manual page of the input files is made from it (scripts/inputs_man_page.py).

#include <string>

namespace advdiff::run {

std::string describe_inputs();

}  // namespace advdiff::run

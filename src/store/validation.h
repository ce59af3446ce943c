// Checking a whole database image: every structure it holds is walked and every reference
// followed and checked against what may stand there. File/Validate and `vezdb check`.
#pragma once

#include <string>
#include <vector>

namespace vez {

// The problems of the current database, one text each ("offset N: ..."); empty when it is
// sound. Reads only; never throws for damage. At most maxProblems are listed, the last
// one then saying how many more were found.
std::vector<std::string> validateDatabase(std::size_t maxProblems = 100);

} // namespace vez

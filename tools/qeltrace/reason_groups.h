// Grouping reasons: those that differ only in numbers, names with digits
// and quoted texts count as one.
#pragma once

#include <vector>

#include "summary.h"

namespace qeltrace {

// Folds one group of another figure set into the groups of this one.
void MergeReasonGroup(std::vector<ReasonGroup>& reasons, const ReasonGroup& theirs);

}  // namespace qeltrace

// The commands that read a file and run nothing: --check-list and --headers.
#include <iostream>
#include <string>

#include "front_end.h"
#include "list_check.h"
#include "read_input.h"
#include "report.h"
#include "scenario_headers.h"
#include "visible.h"

namespace qelhost {

int CheckList(const std::string& file) {
    std::string text;
    std::string problem;
    if (!qeltools::ReadInput(file, kMaxInput, &text, &problem)) {
        return Refuse(problem);
    }
    qelhost::ListCheck check = qelhost::CheckCommandList(text);
    std::cout << qelhost::ListCheckReport(check, qeltools::VisibleShort(file, kMaxShown));
    return check.flagged == 0 ? 0 : 1;
}

int PrintHeaders(const std::string& file) {
    std::string text;
    std::string problem;
    if (!qeltools::ReadInput(file, kMaxInput, &text, &problem)) {
        return Refuse(problem);
    }
    qelhost::ScenarioHeaders headers;
    int line = 0;
    if (!qelhost::ReadHeaders(text, &headers, &problem, &line)) {
        return Refuse(qeltools::ShownArgument(file) + ": line " + std::to_string(line) + ": " + problem);
    }
    std::cout << qelhost::HeadersReport(headers);
    return 0;
}

}  // namespace qelhost

// The files to read, in the order their lines were written: FILE.1 before
// FILE when given the name, and any files given sorted by their first time
// stamp. Each is read a block at a time and handed on a line at a time.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qeltrace {

// The files of the given names in time order, with FILE.1 added beside a
// FILE that has one. False, with the reason, when a file cannot be read.
bool OrderInputs(const std::vector<std::string>& names, std::vector<std::string>* files, std::string* error);

// Returns false to stop reading.
using LineSink = std::function<bool(std::string_view line, const std::string& file, uint64_t number)>;
// Every line of the file, without its line end, until the sink says stop;
// false when the file cannot be read.
bool ReadLines(const std::string& file, const LineSink& sink, std::string* error);

}  // namespace qeltrace

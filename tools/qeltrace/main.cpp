// qeltrace: reads the driver's trace files and summarises them as text,
// as JSON, or as one self-contained page with a timeline.
#include <fstream>
#include <iostream>

#include "inputs.h"
#include "options.h"
#include "qel_version.h"
#include "report.h"

namespace {

constexpr int kUsageError = 2;

int Run(qeltrace::Options options) {
    std::string error;
    std::vector<std::string> files;
    if (!qeltrace::OrderInputs(options.files, &files, &error)) {
        std::cerr << "qeltrace: " << error << "\n";
        return kUsageError;
    }
    int64_t firstLocalMs = 0;
    for (const std::string& file : files) {
        bool found = false;
        qeltrace::ReadLines(
            file,
            [&](std::string_view line, const std::string&, uint64_t) {
                qeltools::TimeStamp time{};
                found = qeltools::ParseStamp(line, &time);
                firstLocalMs = time.localMs;
                return !found;
            },
            &error);
        if (found) {
            break;
        }
    }
    if (!qeltrace::ResolveTimes(&options, firstLocalMs, &error)) {
        std::cerr << "qeltrace: " << error << "\n";
        return kUsageError;
    }
    qeltrace::Summary summary(options.filter, !options.html.empty());
    for (const std::string& file : files) {
        const bool read = qeltrace::ReadLines(
            file,
            [&](std::string_view line, const std::string& name, uint64_t number) {
                summary.Feed(line, name, number);
                return summary.Refusal().empty();
            },
            &error);
        if (!read) {
            std::cerr << "qeltrace: " << error << "\n";
            return kUsageError;
        }
        // Never a silent misreading: a format not known stops it all.
        if (!summary.Refusal().empty()) {
            std::cerr << "qeltrace: " << summary.Refusal() << "\n";
            return kUsageError;
        }
    }
    summary.Finish();
    if (!options.html.empty()) {
        std::ofstream page(options.html, std::ios::binary);
        qeltrace::WriteHtml(summary, files, page);
        page.close();
        if (!page) {
            std::cerr << "qeltrace: cannot write " << options.html << "\n";
            return kUsageError;
        }
    }
    if (options.json) {
        qeltrace::WriteJson(summary, files, std::cout);
    } else if (options.html.empty()) {
        qeltrace::WriteText(summary, files, std::cout);
    } else {
        std::cout << "qeltrace: " << summary.Lines() << " lines, the page is " << options.html << "\n";
    }
    std::cout.flush();
    return std::cout ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    qeltrace::Options options;
    std::string error;
    if (!qeltrace::ParseOptions(std::vector<std::string>(argv + 1, argv + argc), &options, &error)) {
        std::cerr << "qeltrace: " << error << "\n" << qeltrace::Usage();
        return kUsageError;
    }
    if (options.help) {
        std::cout << qeltrace::Usage();
        return 0;
    }
    if (options.version) {
        std::cout << "qeltrace " << QELKOPHV_VERSION << "\n";
        return 0;
    }
    return Run(std::move(options));
}

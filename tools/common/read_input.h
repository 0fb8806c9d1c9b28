// Reading what a tool is given to read: a whole file, or standard input,
// bounded, with a refusal in words for a folder, an unreadable file or one
// too large (such as /dev/zero).
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "parse.h"
#include "visible.h"

namespace qeltools {

// Reads all of path ("-" for standard input) into *text. Refuses, saying
// why in *error (the reason first, a long name cut), a folder, a file that cannot be opened or read, and more
// than maxBytes.
inline bool ReadInput(const std::string& path, size_t maxBytes, std::string* text, std::string* error) {
    bool standardInput = path == "-";
    std::error_code ignored;
    if (!standardInput && std::filesystem::is_directory(path, ignored)) {
        return Fail(error, "a folder, not a file: " + ShownArgument(path));
    }
    std::FILE* file = standardInput ? stdin : std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return Fail(error, std::string("cannot open it (") + std::strerror(errno) + "): " + ShownArgument(path));
    }
    text->clear();
    char block[65536];
    bool tooLarge = false;
    while (!tooLarge) {
        size_t got = std::fread(block, 1, sizeof block, file);
        if (got == 0) {
            break;
        }
        tooLarge = text->size() + got > maxBytes;
        text->append(block, tooLarge ? maxBytes - text->size() : got);
    }
    bool failed = std::ferror(file) != 0;
    int cause = errno;
    if (!standardInput) {
        std::fclose(file);
    }
    const std::string name = standardInput ? "standard input" : ShownArgument(path);
    if (failed) {
        return Fail(error, std::string("cannot read it (") + std::strerror(cause) + "): " + name);
    }
    if (tooLarge) {
        constexpr size_t kMegabyte = 1024 * 1024;
        return Fail(error, name + " holds more than " +
                               (maxBytes % kMegabyte == 0 ? std::to_string(maxBytes / kMegabyte) + " MB"
                                                          : std::to_string(maxBytes) + " bytes"));
    }
    return true;
}

}  // namespace qeltools

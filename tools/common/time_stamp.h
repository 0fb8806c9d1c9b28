// The local time of day as the tools put it before a printed line when
// asked (--time-stamps): "15:06:01.123 ", so a replug or a slow answer can
// be timed from the output.
#pragma once

#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>

namespace qeltools {

inline std::string TimeStamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d ", local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(millis));
    return text;
}

}  // namespace qeltools

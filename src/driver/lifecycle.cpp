// Placeholder until the lifecycle requests land.
#include "driver/lifecycle.h"

const char kBanner[] = "\n";

int32_t GetInfo(DriverRequest*) {
    return kFailed;
}
int32_t LoadDriver(DriverRequest*) {
    return kFailed;
}
int32_t WarmStart(DriverRequest*) {
    return kFailed;
}
int32_t OpenPortRequest(DriverRequest*) {
    return kFailed;
}
int32_t ReconfigurePort(DriverRequest*) {
    return kFailed;
}

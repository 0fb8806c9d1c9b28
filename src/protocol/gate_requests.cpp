// Placeholder until the gate requests land.
#include "protocol/gate_requests.h"

int32_t UpdateGate(DriverRequest*) {
    return kFailed;
}
int32_t WriteGate(DriverRequest*) {
    return kFailed;
}

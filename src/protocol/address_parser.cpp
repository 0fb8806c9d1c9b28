// Placeholder until the address parser lands.
#include "protocol/address_parser.h"

int32_t RegisterGate(DriverRequest*) {
    return kFailed;
}

#pragma once

// One operation of a korvikd batch, as the tests send them raw.

#include <cstdint>
#include <string>

#include "korvikd.grpc.pb.h"

namespace rpc_test {

inline korvik::rpc::Op op(korvik::rpc::Op::Kind kind, uint32_t address = 0, uint32_t value = 0,
                          const std::string& data = {})
{
    korvik::rpc::Op o;
    o.set_kind(kind);
    o.set_address(address);
    o.set_value(value);
    o.set_data(data);
    return o;
}

} // namespace rpc_test

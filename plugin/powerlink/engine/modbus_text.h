// Modbus/TCP part of the extended info text: direction, TCP handshake flags,
// requests with their addresses and values, and responses matched to their
// request through a ring of the 16 latest read requests.
#pragma once

#include <cstdint>

#include "flowlens.h"
#include "flowlens_frame.h"

constexpr uint16_t MODBUS_TCP_PORT = 502;

// ip: the IPv4 header on; tcp: the TCP segment (header and data) within the
// datagram's length.
void flowlens_modbus_text(flowlens_instance *instance, flowlens_bytes ip, flowlens_bytes tcp);

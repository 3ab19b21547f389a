#include "modbus_text.h"

#include "text_writer.h"

using namespace flowlens_layout;

namespace {

// TCP header
constexpr uint32_t TCP_SOURCE_PORT = 0;
constexpr uint32_t TCP_DESTINATION_PORT = 2;
constexpr uint32_t TCP_DATA_OFFSET = 12;  // high nibble, 32-bit words
constexpr uint32_t TCP_FLAGS = 13;
constexpr uint32_t TCP_MIN_HEADER = 20;
constexpr uint8_t TCP_FIN = 0x01;
constexpr uint8_t TCP_SYN = 0x02;
constexpr uint8_t TCP_RST = 0x04;
constexpr uint8_t TCP_ACK = 0x10;

// MBAP header and PDU, offsets in the TCP payload (big-endian).
constexpr uint32_t MB_TRANSACTION = 0;
constexpr uint32_t MB_FUNCTION = 7;
constexpr uint32_t MB_ADDRESS = 8;
constexpr uint32_t MB_VALUE = 10;
constexpr uint32_t MB_REQUEST_BYTE_COUNT = 12;
constexpr uint32_t MB_REQUEST_DATA = 13;
constexpr uint32_t MB_RW_WRITE_ADDRESS = 12;  // function 23
constexpr uint32_t MB_RW_BYTE_COUNT = 16;
constexpr uint32_t MB_RW_DATA = 17;
constexpr uint32_t MB_RESPONSE_BYTE_COUNT = 8;
constexpr uint32_t MB_RESPONSE_DATA = 9;
constexpr uint8_t FC_READ_WRITE_REGISTERS = 23;
constexpr unsigned RING = FLOWLENS_MODBUS_REQUESTS;

// ";address;value" pairs: bytes of coils (8 coils each) or 16-bit registers.
void byte_pairs(flowlens_instance *in, const flowlens_bytes &d, uint32_t at, uint32_t count, uint32_t address) {
    for (uint32_t i = 0; i < count && d.has(at + i, 1); ++i, address += 8)
        flowlens_text_append(&in->text.writer, ";%u;%d", address & 0xFFFF, d.u8(at + i));
}

void register_pairs(flowlens_instance *in, const flowlens_bytes &d, uint32_t at, uint32_t bytes, uint32_t address) {
    for (uint32_t i = 0; i + 2 <= bytes && d.has(at + i, 2); i += 2, ++address)
        flowlens_text_append(&in->text.writer, ";%u;%d", address & 0xFFFF, d.be16(at + i));
}

void request_text(flowlens_instance *in, const flowlens_bytes &ip, const flowlens_bytes &tcp, const flowlens_bytes &d) {
    const uint8_t function = d.u8(MB_FUNCTION);
    flowlens_text_append(&in->text.writer, "Q: FC%d", function);
    if (function < 5 || function == FC_READ_WRITE_REGISTERS) {
        flowlens_modbus_request &slot = in->text.modbus[in->text.modbus_index % RING];
        slot.transaction_id = d.be16(MB_TRANSACTION);
        slot.ip_destination = ip.be32(IP_DESTINATION);
        slot.tcp_source_port = tcp.be16(TCP_SOURCE_PORT);
        slot.start_address = d.be16(MB_ADDRESS);
        in->text.modbus_index = uint8_t((in->text.modbus_index + 1) % RING);
    }
    switch (function) {
    case 1:
    case 2:
    case 3:
    case 4: return;
    case 5:
    case 6: return flowlens_text_append(&in->text.writer, ";%d;%d", d.be16(MB_ADDRESS), d.be16(MB_VALUE));
    case 15: return byte_pairs(in, d, MB_REQUEST_DATA, d.u8(MB_REQUEST_BYTE_COUNT), d.be16(MB_ADDRESS));
    case 16: return register_pairs(in, d, MB_REQUEST_DATA, d.u8(MB_REQUEST_BYTE_COUNT), d.be16(MB_ADDRESS));
    case FC_READ_WRITE_REGISTERS:
        return register_pairs(in, d, MB_RW_DATA, d.u8(MB_RW_BYTE_COUNT), d.be16(MB_RW_WRITE_ADDRESS));
    default: return flowlens_text_append(&in->text.writer, " ========- not implemented ========--");
    }
}

void response_text(flowlens_instance *in, const flowlens_bytes &ip, const flowlens_bytes &tcp,
                   const flowlens_bytes &d) {
    const uint16_t transaction = d.be16(MB_TRANSACTION);
    const uint32_t ip_source = ip.be32(IP_SOURCE);
    const uint16_t port = tcp.be16(TCP_DESTINATION_PORT);
    for (unsigned back = 1; back <= RING; ++back) {  // newest first
        const flowlens_modbus_request &r = in->text.modbus[(in->text.modbus_index + RING - back) % RING];
        if (r.transaction_id != transaction || r.ip_destination != ip_source || r.tcp_source_port != port) continue;
        const uint8_t function = d.u8(MB_FUNCTION);
        flowlens_text_append(&in->text.writer, "R: FC%d", function);
        const uint32_t count = d.u8(MB_RESPONSE_BYTE_COUNT);
        if (function == 1 || function == 2)
            byte_pairs(in, d, MB_RESPONSE_DATA, count, r.start_address);
        else
            register_pairs(in, d, MB_RESPONSE_DATA, count, r.start_address);
        return;
    }
}

}  // namespace

void flowlens_modbus_text(flowlens_instance *in, flowlens_bytes ip, flowlens_bytes tcp) {
    const bool to_server = tcp.be16(TCP_DESTINATION_PORT) == MODBUS_TCP_PORT;
    flowlens_text_append(&in->text.writer, "%s", to_server ? "-> " : "<- ");
    if (tcp.size < TCP_MIN_HEADER) return;
    // The payload starts after the header and its options; treating option
    // bytes (common on SYN segments) as Modbus data would misread them.
    uint32_t header = uint32_t(tcp.u8(TCP_DATA_OFFSET) >> 4) * 4;
    if (header < TCP_MIN_HEADER) header = TCP_MIN_HEADER;
    const uint8_t flags = tcp.u8(TCP_FLAGS);
    const char *ack = (flags & TCP_ACK) ? ",ACK" : "";
    const bool has_data = tcp.size > header;
    if (flags & TCP_SYN) return flowlens_text_append(&in->text.writer, "SYN%s", ack);
    if (flags & TCP_FIN) {
        // A peer that closes right after its last message sends that message
        // in the FIN segment: name the flags, then decode the data.
        flowlens_text_append(&in->text.writer, "FIN%s", ack);
        if (!has_data) return;
        flowlens_text_append(&in->text.writer, " ");
    } else if (flags & TCP_RST) {
        return flowlens_text_append(&in->text.writer, "RST%s", ack);
    }
    if (!has_data) {
        if (flags & TCP_ACK) flowlens_text_append(&in->text.writer, "ACK");
        return;
    }
    const flowlens_bytes data = tcp.from(header);
    if (to_server)
        request_text(in, ip, tcp, data);
    else
        response_text(in, ip, tcp, data);
}

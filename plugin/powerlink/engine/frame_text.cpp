#include "frame_text.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "device_catalogue.h"
#include "flowlens_frame.h"
#include "modbus_text.h"
#include "sdo_text.h"

using namespace flowlens_layout;

namespace {

// Frame numbers further apart than this break the SoC and NetTime deltas.
constexpr uint64_t DELTA_FRAME_DISTANCE = 200;
constexpr char FRAME_SLICED[] = " no additional information, packet sliced !";

// IPv4 and TCP beyond what the engine itself reads.
constexpr uint32_t IP_TOTAL_LENGTH = 2;
constexpr uint32_t IP_FRAGMENT = 6;
constexpr uint16_t IP_FRAGMENT_OFFSET_MASK = 0x1FFF;
constexpr uint8_t IP_PROTOCOL_TCP = 6;
constexpr uint32_t TCP_SOURCE_PORT = 0;
constexpr uint32_t TCP_DESTINATION_PORT = 2;
constexpr uint32_t TCP_HEADER = 20;

// ET2000 probe trailer: 16 bytes at the end of the frame.
constexpr uint32_t ET2000_TRAILER = 16;
constexpr uint8_t ET2000_SIGNATURE[6] = {0x01, 0x01, 0x05, 0x10, 0x00, 0x00};
constexpr uint32_t ET2000_PORT = 6;
constexpr uint32_t ET2000_ERROR = 7;
constexpr uint32_t ET2000_TIME = 8;

// IdentResponse (EPL offsets) beyond the identity the engine reads.
constexpr uint32_t IDENT_MIN_STATE = 7;
constexpr uint32_t IDENT_MIN_FIRMWARE = 48;
constexpr uint32_t IDENT_MIN_APP_TIME = 70;
constexpr uint32_t IDENT_APP_DAYS = 62;  // days since 1984-01-01
constexpr uint32_t IDENT_APP_MS = 66;    // milliseconds since midnight
constexpr int64_t DAYS_1970_TO_1984 = 5113;

// NMTCommand (ASnd service 4), DNA details.
constexpr uint8_t NMT_COMMAND_DNA = 0x2D;
constexpr uint32_t NMT_COMMAND_ID = 4;
constexpr uint32_t DNA_FLAGS = 5;
constexpr uint32_t DNA_HUB_MASK = 12;
constexpr uint32_t DNA_NEW_NODE = 24;
constexpr uint32_t DNA_LEASE_TIME = 28;

// Analyzer dump (ASnd 163).
constexpr uint32_t DUMP_SIZE = 4;

// Module service (ASnd 176).
constexpr uint8_t SERVICE_MODULE = 176;
constexpr uint32_t PME_ID = 4;
constexpr uint32_t PME_COMMAND = 8;
constexpr uint32_t PME_ERROR = 10;
constexpr uint32_t PME_WORD_0 = 12;

// POWERLINK V1 (offsets after the EtherType).
constexpr uint32_t V1_NETTIME = 6;
constexpr uint32_t V1_HW_VERSION = 10;
constexpr uint32_t V1_FW_VERSION = 14;
constexpr uint32_t V1_PRODUCT = 18;
constexpr uint32_t V1_FIRMWARE_OFFSET = 6;
constexpr uint32_t V1_CONTROL_CODE = 6;
constexpr uint32_t V1_ACKNACK_INFO = 6;

enum class v2_mode { ethernet, udp };

// Everything the V2 text needs about the frame around the POWERLINK bytes.
struct v2_frame {
    flowlens_bytes p;
    v2_mode mode;
    bool reply;                  // UDP source port 3819
    uint8_t lookup_destination;  // destination node for object names
    flowlens_network *network;
};

void append(flowlens_instance *in, const char *text) { flowlens_text_append(&in->text.writer, "%s", text); }
void sliced(flowlens_instance *in) { append(in, flowlens_text_sliced); }

void reset_delta_cells(flowlens_instance *in) {
    in->text.v1_nettime_valid = 0;
    in->networks[0].soc_text_time_valid = 0;
    in->networks[1].soc_text_time_valid = 0;
}

// --- V2 --------------------------------------------------------------------

uint16_t flag_mask(uint8_t message_type, uint8_t requested_service, uint8_t service) {
    switch (message_type) {
    case MTYP_SOC: return 0x00C0;
    case MTYP_PREQ: return 0x0025;
    case MTYP_PRES: return 0xFF31;
    case MTYP_SOA: return (requested_service == 1 || requested_service == 2) ? 0x000E : 0x0008;
    case MTYP_ASND: return (service == SERVICE_IDENT_RESPONSE || service == SERVICE_STATUS_RESPONSE) ? 0x3F18 : 0;
    default: return 0;
    }
}

void flags_text(flowlens_instance *in, const flowlens_bytes &p, uint8_t message_type) {
    const uint16_t word =
        p.le16(EPL_FLAGS) & flag_mask(message_type, p.u8(EPL_SOA_REQUESTED_SERVICE), p.u8(EPL_ASND_SERVICE));
    append(in, "F:");
    if (word == 0) {
        append(in, "- ");
        return;
    }
    static const struct {
        uint16_t bit;
        const char *text;
    } bits[] = {
        {0x0001, "RD,"},   {0x0080, "MC,"}, {0x0040, "PS,"}, {0x0020, "MS,"},  {0x0010, "EN,"},
        {0x0008, nullptr}, {0x0004, "EA,"}, {0x0002, "ER,"}, {0x8000, "FLS,"}, {0x4000, "SLS,"},
    };
    for (const auto &b : bits) {
        if (!(word & b.bit)) continue;
        append(in, b.text ? b.text : (message_type == MTYP_SOA ? "AN," : "EC,"));
    }
    if (word & 0x3F00) flowlens_text_append(&in->text.writer, " PR=%d,RS=%d,", (word >> 11) & 7, (word >> 8) & 7);
    size_t length = flowlens_text_length(&in->text.writer);
    if (length > 0 && in->text.writer.start[length - 1] == ',') flowlens_text_cut(&in->text.writer, length - 1);
    append(in, "  ");
}

void nmt_state_text(flowlens_instance *in, uint8_t state) {
    flowlens_text_append(&in->text.writer, "NMT: %s", nmt_state_name(state));
}

bool source_is_mn(uint8_t source) { return source >= 240 && source <= 242; }

void soc_text(flowlens_instance *in, const v2_frame &f) {
    const flowlens_bytes &p = f.p;
    append(in, "SoC        ");
    if (p.size < 6) return sliced(in);
    flags_text(in, p, MTYP_SOC);
    if (p.u8(EPL_DESTINATION) < 255 || !source_is_mn(p.u8(EPL_SOURCE)))
        flowlens_text_mark(&in->text.writer, FLOWLENS_MARK_IRREGULAR);
    if (p.size < 18) return sliced(in);
    const uint32_t value = p.le32(EPL_SOC_RELATIVE_TIME);
    flowlens_text_append(&in->text.writer, "US(Bit 0-31):%10u", value);
    if (f.network->soc_text_time_valid)
        flowlens_text_append(&in->text.writer, " (+%u)", value - f.network->soc_text_time_value);
    f.network->soc_text_time_value = value;
    f.network->soc_text_time_valid = 1;
}

// PReq and PRes share the size part; false when the frame is sliced.
bool cyclic_size_text(flowlens_instance *in, const flowlens_bytes &p, const char *name) {
    if (p.size < 10) {
        flowlens_text_append(&in->text.writer, " %s (   ?) ", name);
        if (p.size < 6) {
            sliced(in);
            return false;
        }
        return true;
    }
    flowlens_text_append(&in->text.writer, " %s (%4d) ", name, p.le16(EPL_PDO_SIZE));
    return true;
}

void preq_text(flowlens_instance *in, const v2_frame &f) {
    if (!cyclic_size_text(in, f.p, "PReq")) return;
    flags_text(in, f.p, MTYP_PREQ);
    if (!source_is_mn(f.p.u8(EPL_SOURCE))) flowlens_text_mark(&in->text.writer, FLOWLENS_MARK_IRREGULAR);
}

void pres_text(flowlens_instance *in, const v2_frame &f, const flowlens_packet_info *packet) {
    const flowlens_bytes &p = f.p;
    if (!cyclic_size_text(in, p, "PRes")) return;
    flags_text(in, p, MTYP_PRES);
    const uint8_t state = p.u8(EPL_NMT_STATE);
    nmt_state_text(in, state);
    if (state != NMT_PRE_OPERATIONAL_2 && state != NMT_READY_TO_OPERATE && state != NMT_OPERATIONAL) {
        append(in, " !! Invalid NMT State for PRes");
        flowlens_text_mark(&in->text.writer, FLOWLENS_MARK_ERROR);
    }
    // The size check compares the Ethernet frame with its payload field, so
    // it needs both (not over UDP, not without the size).
    if (f.mode == v2_mode::ethernet && p.size >= 10 &&
        int32_t(packet->length) - PRES_HEADER_AND_CRC < int32_t(p.le16(EPL_PDO_SIZE))) {
        append(in, " !! Frame too short, wrong value for object 1F98h/Sub 5 ??");
        flowlens_text_mark(&in->text.writer, FLOWLENS_MARK_ERROR);
    }
}

const char *requested_service_name(uint8_t service) {
    switch (service) {
    case 0: return "NO_SERVICE";
    case 1: return "IDENT_REQUEST";
    case 2: return "STATUS_REQUEST";
    case 3: return "NMT_REQUEST_INVITE";
    case 6: return "SYNC_REQUEST";
    case 255: return "UNSPEC_INVITE";
    default: return "Invalid";
    }
}

void soa_text(flowlens_instance *in, const v2_frame &f, uint8_t message_type) {
    const flowlens_bytes &p = f.p;
    append(in, message_type == MTYP_SOA ? " SoA(" : " AInv(");
    if (p.size < 7) return sliced(in);
    append(in, requested_service_name(p.u8(EPL_SOA_REQUESTED_SERVICE)));
    if (p.size < 8) return sliced(in);
    flowlens_text_append(&in->text.writer, ")->%-3d  ", p.u8(EPL_SOA_TARGET));
    flags_text(in, p, message_type);
    nmt_state_text(in, p.u8(EPL_NMT_STATE));
}

void app_date_time_text(flowlens_instance *in, const flowlens_bytes &p) {
    const uint32_t days = p.le32(IDENT_APP_DAYS);
    const uint32_t ms = p.le32(IDENT_APP_MS);
    const int64_t seconds = (int64_t(days) + DAYS_1970_TO_1984) * 86400 + ms / 1000;
    const time_t t = time_t(seconds);
    struct tm utc;
    if (int64_t(t) != seconds || gmtime_r(&t, &utc) == nullptr) return;
    flowlens_text_append(&in->text.writer, "  AppDateTime: %d.%d.%d, %02d:%02d:%02d.%03d", utc.tm_mday, utc.tm_mon + 1,
                         utc.tm_year + 1900, utc.tm_hour, utc.tm_min, utc.tm_sec, int(ms % 1000));
}

void ident_response_text(flowlens_instance *in, const flowlens_bytes &p) {
    append(in, "(IDENT_RESPONSE)      ");
    flags_text(in, p, MTYP_ASND);
    if (p.size < IDENT_MIN_STATE) return sliced(in);
    nmt_state_text(in, p.u8(EPL_IDENT_NMT_STATE));
    if (p.size < MIN_IDENT_IDENTITY) return sliced(in);
    const uint32_t vendor = p.le32(EPL_IDENT_VENDOR_ID);
    const device_catalogue_row *row = device_catalogue_find(vendor, p.le32(EPL_IDENT_PRODUCT_CODE));
    if (row != nullptr) flowlens_text_append(&in->text.writer, "  Dev: %s", row->model_name);
    if (vendor != maker_vendor_id) return;
    if (p.size < IDENT_MIN_FIRMWARE) return sliced(in);
    const uint16_t firmware = p.le16(EPL_IDENT_EXTENSION_WORD);
    if (firmware != 0) flowlens_text_append(&in->text.writer, "  FW: %d.%02d", firmware / 100, firmware % 100);
    if (p.size < IDENT_MIN_APP_TIME) return sliced(in);
    app_date_time_text(in, p);
}

void status_response_text(flowlens_instance *in, const flowlens_bytes &p, const flowlens_packet_info *packet) {
    append(in, "(STATUS_RESPONSE)     ");
    flags_text(in, p, MTYP_ASND);
    if (p.size < 7) return sliced(in);
    nmt_state_text(in, p.u8(EPL_IDENT_NMT_STATE));
    if (packet->length < STATUS_RESPONSE_MIN_LENGTH) {
        flowlens_text_mark(&in->text.writer, FLOWLENS_MARK_ERROR);
        append(in, " (Frame too short)");
    }
}

const char *nmt_command_text(uint8_t command) {
    switch (command) {
    case 0x21: return "StartNode";
    case 0x22: return "StopNode";
    case 0x23: return "EnterPreOp2";
    case 0x24: return "EnableReadyToOperate";
    case 0x28: return "ResetNode";
    case 0x29: return "ResetCommunication";
    case 0x2A: return "ResetConfiguration";
    case 0x2B: return "SoftwareReset";
    case 0x2C: return "GoToStandby";
    case 0x2D: return "DNA";
    case 0x41: return "StartNodeEx";
    case 0x42: return "StopNodeEx";
    case 0x43: return "EnterPreOp2Ex";
    case 0x44: return "EnableReadyToOperateEx";
    case 0x48: return "ResetNodeEx";
    case 0x49: return "ResetCommunicationEx";
    case 0x4A: return "ResetConfigurationEx";
    case 0x4B: return "SoftwareResetEx";
    case 0x4C: return "GoToStandbyEx";
    case 0xFF: return "InvalidService";
    default: return "Unknown !";
    }
}

void nmt_command_frame_text(flowlens_instance *in, const flowlens_bytes &p) {
    append(in, "(NMT_COMMAND) ");
    if (p.size < 5) return sliced(in);
    const uint8_t command = p.u8(NMT_COMMAND_ID);
    append(in, nmt_command_text(command));
    if (command != NMT_COMMAND_DNA) return;
    if (p.size < 28) return sliced(in);
    const uint8_t flags = p.u8(DNA_FLAGS);
    if (flags & 0x04) flowlens_text_append(&in->text.writer, ", NewNode=%d", int(p.le32(DNA_NEW_NODE)));
    if (flags & 0x08) flowlens_text_append(&in->text.writer, ", HubMask=0x%02X", p.le32(DNA_HUB_MASK));
    if (p.size < 32) return sliced(in);
    if (flags & 0x10) flowlens_text_append(&in->text.writer, ", LeaseTime=%d us", int(p.le32(DNA_LEASE_TIME)));
}

// The analyzer's trigger mark, or records that do not fit the dump.
bool dump_trigger_or_format_error(const flowlens_bytes &p) {
    if (p.u8(DUMP_FORMAT) != 0) return false;
    const uint32_t records = p.u8(DUMP_COUNT);
    const uint32_t payload = p.size > DUMP_FIRST_RECORD ? p.size - DUMP_FIRST_RECORD : 0;
    uint32_t offset = DUMP_FIRST_RECORD;
    for (uint32_t i = 0; i < records; ++i) {
        if (!p.has(offset, DUMP_RECORD_HEADER)) break;
        const uint32_t size = p.le16(offset + DUMP_RECORD_SIZE);
        if (p.le16(offset + DUMP_RECORD_STATUS) & DUMP_STATUS_TRIGGER) return true;
        const uint32_t padded = (size + 3u) & ~3u;
        if (i > 0 && padded + DUMP_RECORD_HEADER >= payload) return true;
        offset += DUMP_RECORD_HEADER + padded;
    }
    return false;
}

void dump_text(flowlens_instance *in, const flowlens_bytes &p) {
    append(in, "(Q40TA5521) ");
    flowlens_text_append(&in->text.writer, " DumpSize:%3d, DumpCount:%3d", p.le16(DUMP_SIZE), p.u8(DUMP_COUNT));
    if (dump_trigger_or_format_error(p)) append(in, ", Trigger (or Format-Error)");
}

// --- Module service (ASnd 176) ---------------------------------------------

const char *const module_command_names[] = {
    " NO_TEST",       " COM_TEST",   " FLASH_TEST", " LED",          " NODENUMBER",       " WATCHDOG",
    " RAM",           " VERSIONS",   " BOOTBLOCK",  " READ_BYTE",    " WRITE_BYTE",       " READ_WORD",
    " WRITE_WORD",    " READ_LONG",  " WRITE_LONG", " SET_MAC",      " SET_SERIAL",       " FLASH_ERASE",
    " FLASH_WRITE",   " FLASH_READ", " FLASH_COPY", " IO_INFO",      " Lanyx_REG_ACCESS", nullptr,
    " COPY_DEFAULT",  nullptr,       " IO_RESET",   " IO_FILE_OPEN", " IO_FILE_READ",     " IO_FILE_WRITE",
    " IO_FILE_CLOSE",
};

char printable(uint8_t c) { return (c >= 0x20 && c < 0x7F) ? char(c) : '.'; }

void module_details(flowlens_instance *in, const flowlens_bytes &p, uint16_t command, bool reply, uint16_t error) {
    auto word = [&](uint32_t offset) { return p.le32(offset); };
    const char *ack = reply ? " (Ack)" : " (Req)";
    switch (command) {
    case 3:
        if (reply)
            append(in, " (Ack)");
        else
            flowlens_text_append(&in->text.writer, " (Req=0x%08X)", word(12));
        break;
    case 4:
        if (reply)
            flowlens_text_append(&in->text.writer, " (Ack=%d / %02X)", int(word(12)), word(12));
        else
            append(in, " (Req)");
        break;
    case 5:
    case 6: append(in, ack); break;
    case 7:
        if (reply)
            flowlens_text_append(&in->text.writer, " (Ack: Dev=0x%04X SW=%d HW=%d)", word(16), int(word(12)),
                                 int(word(20)));
        else
            append(in, " (Req)");
        break;
    case 8:
        if (reply)
            append(in, word(12) != 0 ? " (Ack: UPGRADE)" : " (Ack: DEFAULT)");
        else
            append(in, " (Req)");
        break;
    case 15:
        append(in, reply ? " (Ack" : " (Req");
        flowlens_text_append(&in->text.writer, " %02X:%02X:%02X:%02X:%02X:%02X)", p.u8(12), p.u8(13), p.u8(14),
                             p.u8(15), p.u8(16), p.u8(17));
        break;
    case 16:
        append(in, reply ? " (Ack" : " (Req");
        flowlens_text_append(&in->text.writer, " %d)", int(word(12)));
        break;
    case 21:
        if (!reply) {
            flowlens_text_append(&in->text.writer, " (Req Slot=%d)", int(word(12)));
        } else if (word(16) == 0) {
            flowlens_text_append(&in->text.writer, " (Ack Slot=%d Dev=0x%04X)", int(word(12)), word(20));
        } else if (word(16) == 1) {
            // The mode byte is shown as a number and as a character; a
            // control byte is shown as '.', so it cannot end the text early.
            flowlens_text_append(&in->text.writer, " (Ack Slot=%d Dev=0x%04X FW=%d HW=%d SER=%d MODE=%02X / %c )",
                                 int(word(12)), word(20), int(word(28)), int(word(32)), int(word(36)), p.u8(40),
                                 printable(p.u8(40)));
        }
        break;
    case 22:
        if (error != 0) break;
        flowlens_text_append(&in->text.writer, " (Mod=%d , Reg=%d, %s", int(word(12)), int(word(16)),
                             word(20) != 0 ? "WR" : "RD");
        if (uint32_t(reply ? 1 : 0) == word(20))
            append(in, ")");
        else
            flowlens_text_append(&in->text.writer, ", Value=%d / 0x%08X)", int(word(24)), word(24));
        break;
    case 26:
        if (reply)
            flowlens_text_append(&in->text.writer, " (Ack Mod=%d)", int(word(12)));
        else
            flowlens_text_append(&in->text.writer, " (Req Mod=%d Startmode=%d)", int(word(12)), int(word(16)));
        break;
    default: break;
    }
}

void module_service_text(flowlens_instance *in, const v2_frame &f) {
    const flowlens_bytes &p = f.p;
    const bool reply = f.mode == v2_mode::udp && f.reply;
    const uint16_t command = p.le16(PME_COMMAND), error = p.le16(PME_ERROR);
    append(in, "(PME) ");
    flowlens_text_append(&in->text.writer, " ID: %d, Cmd: %d, Err: %d", int(p.le32(PME_ID)), command, error);
    const size_t name_start = flowlens_text_length(&in->text.writer);
    const size_t known = sizeof module_command_names / sizeof module_command_names[0];
    const char *name = command < known ? module_command_names[command] : nullptr;
    append(in, name ? name : " UNKNOWN COMMAND");
    module_details(in, p, command, reply, error);
    if (error != 0) {
        append(in, " ");
        flowlens_text_cut(&in->text.writer, name_start);
        append(in, " - ERROR");
    }
}

void asnd_text(flowlens_instance *in, const v2_frame &f, const flowlens_packet_info *packet) {
    const flowlens_bytes &p = f.p;
    append(in, " ASnd");
    if (p.size < 4) return sliced(in);
    const uint8_t service = p.u8(EPL_ASND_SERVICE);
    switch (service) {
    case SERVICE_IDENT_RESPONSE: return ident_response_text(in, p);
    case SERVICE_STATUS_RESPONSE: return status_response_text(in, p, packet);
    case 3: return append(in, "(NMT_REQUEST)");
    case 4: return nmt_command_frame_text(in, p);
    case SERVICE_SDO: {
        const flowlens_node *server = &f.network->nodes[f.lookup_destination];
        return flowlens_sdo_text(in, p, server);
    }
    case SERVICE_SYNC: return append(in, "(SYNC_RESPONSE) ");
    case SERVICE_LANYX:
        if (p.size < 18) sliced(in);
        return;
    case 162: return;
    case SERVICE_ANALYZER_DUMP: return dump_text(in, p);
    case SERVICE_MODULE: return module_service_text(in, f);
    default: return append(in, "(?)");
    }
}

void v2_text(flowlens_instance *in, v2_frame f, const flowlens_packet_info *packet) {
    const flowlens_bytes &p = f.p;
    if (f.mode == v2_mode::udp) {
        append(in, "  EPL");
    } else if (p.size >= 3) {
        flowlens_text_append(&in->text.writer, " %3d->%3d ", p.u8(EPL_SOURCE), p.u8(EPL_DESTINATION));
    } else if (p.size == 2) {
        flowlens_text_append(&in->text.writer, "  ? ->%3d ", p.u8(EPL_DESTINATION));
    } else {
        append(in, "  ? -> ?  ");
    }
    const uint8_t message_type = p.u8(EPL_MESSAGE_TYPE) & 0x7F;
    switch (message_type) {
    case MTYP_SOC: return soc_text(in, f);
    case MTYP_PREQ: return preq_text(in, f);
    case MTYP_PRES: return pres_text(in, f, packet);
    case MTYP_SOA:
    case MTYP_AINV: return soa_text(in, f, message_type);
    case MTYP_ASND: return asnd_text(in, f, packet);
    default: return append(in, " Invalid Message Type");
    }
}

// --- V1 ----------------------------------------------------------------------

struct v1_flag {
    uint8_t bit;
    const char *text;
};

void v1_flags(flowlens_instance *in, uint8_t flags, const v1_flag *list, size_t count) {
    for (size_t i = 0; i < count; ++i) append(in, (flags & list[i].bit) ? list[i].text : "   ");
}

const char *v1_channel_name(uint8_t channel) {
    switch (channel) {
    case 4: return "-Ch: Config";
    case 5: return "-Ch: Excpt";
    case 246: return "-Ch: IO 3";
    case 250: return "-Ch: IO 2";
    case 251: return "-Ch: IO";
    case 252: return "-Ch: Drive 2";
    case 253: return "-Ch: Drive 1";
    case 254: return "-Ch: Protocol";
    case 255: return "-Ch: Generic";
    default: return nullptr;
    }
}

const char *v1_control_text(uint16_t code) {
    switch (code) {
    case 1: return "  Stop";
    case 2: return "  Firmware Stop";
    case 3: return "  Firmware Cancel";
    case 4: return "  Go";
    case 5: return "  Reset";
    default: return "  ??";
    }
}

// Asynchron Invite / Send / AckNack; false when the text ended sliced.
bool v1_channel_text(flowlens_instance *in, const flowlens_bytes &p, uint8_t service) {
    const bool send = service == 6;
    const uint8_t channel = p.u8(3);
    switch (channel) {
    case 1:
        append(in, "-Ch: Ident");
        if (!send) return true;
        if (p.size < 22) return sliced(in), false;
        if (const device_catalogue_row *row = device_catalogue_find(maker_vendor_id, p.le16(V1_PRODUCT)))
            flowlens_text_append(&in->text.writer, "  Dev: %s", row->model_name);
        flowlens_text_append(&in->text.writer, "  FW: %d.%d", p.le16(V1_FW_VERSION) / 100, p.le16(V1_FW_VERSION) % 100);
        flowlens_text_append(&in->text.writer, "  HW: %d", p.le16(V1_HW_VERSION));
        return true;
    case 2:
        append(in, "-Ch: Firmware");
        if (p.size < 10) return sliced(in), false;
        if (send) flowlens_text_append(&in->text.writer, ", Offset: %d", int(p.le32(V1_FIRMWARE_OFFSET)));
        return true;
    case 3:
        append(in, "-Ch: Control");
        if (p.size < 8) return sliced(in), false;
        if (send) append(in, v1_control_text(p.le16(V1_CONTROL_CODE)));
        return true;
    default:
        if (const char *name = v1_channel_name(channel))
            append(in, name);
        else
            flowlens_text_append(&in->text.writer, "-Ch: %d", channel);
        return true;
    }
}

void v1_text(flowlens_instance *in, const flowlens_bytes &p) {
    if (p.size < 3) return sliced(in);
    flowlens_text_append(&in->text.writer, "%3d->%3d ", p.u8(2), p.u8(1));
    const uint8_t service = p.u8(0) & 0x7F;
    static const v1_flag start_flags[] = {{0x01, " RD"}, {0x02, " ER"}, {0x04, " WA"}, {0x08, " AC"},
                                          {0x10, " EX"}, {0x40, " PS"}, {0x80, " SF"}};
    static const v1_flag poll_request_flags[] = {{0x01, " RD"}, {0x02, " DS"}, {0x04, " YA"}, {0x20, " SL"}};
    static const v1_flag poll_response_flags[] = {{0x01, " RD"}, {0x02, " ER"}, {0x04, " WA"},
                                                  {0x08, " RS"}, {0x10, " EX"}, {0x20, " SL"}};
    switch (service) {
    case 1: {
        append(in, "StartCyclic");
        if (p.size < 4) return sliced(in);
        v1_flags(in, p.u8(3), start_flags, 7);
        if (p.size < 10) return sliced(in);
        const uint32_t nettime = p.le32(V1_NETTIME);
        flowlens_text_append(&in->text.writer, "    NetTime=%10d", int32_t(nettime));
        if (in->text.v1_nettime_valid)
            flowlens_text_append(&in->text.writer, " (+%d)", int32_t(nettime - in->text.v1_prev_nettime));
        in->text.v1_prev_nettime = nettime;
        in->text.v1_nettime_valid = 1;
        return;
    }
    case 2: return append(in, "EndCyclic");
    case 3:
        append(in, "Poll Request");
        if (p.size < 4) return sliced(in);
        return v1_flags(in, p.u8(3), poll_request_flags, 4);
    case 4:
        append(in, "Poll Response");
        if (p.size < 4) return sliced(in);
        return v1_flags(in, p.u8(3), poll_response_flags, 6);
    case 5:
    case 6:
    case 7:
        append(in, service == 5 ? "Asynchron Invite" : service == 6 ? "Asynchron Send" : "Asynchron AckNack");
        if (p.size < 4) return sliced(in);
        if (!v1_channel_text(in, p, service)) return;
        if (p.size < 10) return sliced(in);
        if (service == 7) flowlens_text_append(&in->text.writer, ", Info: %d", int(p.le32(V1_ACKNACK_INFO)));
        return;
    default: return append(in, "unknown service ID !");
    }
}

// --- Frame level ---------------------------------------------------------------

// IPv4: Modbus/TCP or POWERLINK over UDP. r: bytes after the Ethernet header.
// Answers the remaining count (negative: sliced).
int32_t ipv4_text(flowlens_instance *in, const flowlens_packet_info *packet, const flowlens_bytes &frame, int32_t r,
                  flowlens_network *network) {
    const flowlens_bytes ip = frame.from(ETH_HEADER);
    const int32_t header = int32_t(ip.u8(IP_VERSION_IHL) & 0x0F) * 4;
    if (r < header) return -1;
    const int32_t total = ip.be16(IP_TOTAL_LENGTH);
    if (total < r) r = total;
    r -= header;
    if ((ip.be16(IP_FRAGMENT) & IP_FRAGMENT_OFFSET_MASK) != 0 || r < 0) return r;
    const flowlens_bytes transport{ip.from(uint32_t(header)).data, uint32_t(r)};
    const uint8_t protocol = ip.u8(IP_PROTOCOL);
    if (protocol == IP_PROTOCOL_TCP) {
        const uint16_t sport = transport.be16(TCP_SOURCE_PORT), dport = transport.be16(TCP_DESTINATION_PORT);
        if ((sport == MODBUS_TCP_PORT || dport == MODBUS_TCP_PORT) && r >= int32_t(TCP_HEADER))
            flowlens_modbus_text(in, ip, transport);
        return r;
    }
    if (protocol != IP_PROTOCOL_UDP) return r;
    const uint16_t sport = transport.be16(UDP_SOURCE_PORT), dport = transport.be16(UDP_DESTINATION_PORT);
    if (sport != UDP_PORT_POWERLINK && dport != UDP_PORT_POWERLINK) return r;
    r -= int32_t(UDP_HEADER);
    if (r < 0) return r;
    v2_frame f{};
    f.p = flowlens_bytes{r > 0 ? transport.from(UDP_HEADER).data : nullptr, uint32_t(r)};
    f.mode = v2_mode::udp;
    f.reply = sport == UDP_PORT_POWERLINK;
    f.network = network;
    const uint8_t destination = f.p.u8(EPL_DESTINATION);
    f.lookup_destination = destination != 0 ? destination : uint8_t(ip.u8(IP_DESTINATION + 3));
    v2_text(in, f, packet);
    return r;
}

void et2000_text(flowlens_instance *in, const flowlens_packet_info *packet, const flowlens_bytes &frame) {
    if (packet->captured_length < packet->length || packet->length < ET2000_TRAILER) return;
    const uint32_t at = packet->length - ET2000_TRAILER;
    if (!frame.equals(at, ET2000_SIGNATURE, sizeof ET2000_SIGNATURE)) return;
    const uint8_t port_bit = frame.u8(at + ET2000_PORT);
    if (port_bit == 0 || (port_bit & (port_bit - 1)) != 0) return;
    int bit = 7;
    while (!(port_bit & (1u << bit))) --bit;
    const int x = (7 - bit) / 2 + 1, n = (7 - bit) % 2;
    // The probe writes its time stamp little-endian, like all EtherCAT data.
    const uint64_t time = uint64_t(frame.le32(at + ET2000_TIME + 4)) << 32 | frame.le32(at + ET2000_TIME);
    int32_t delta = 0;
    // Frame number 0 never carries a trailer: it marks "none stored yet".
    if (in->text.et2000_prev_frame != 0 && in->text.et2000_prev_frame + 1 == in->text.frame_number)
        delta = int32_t(uint32_t(time) - uint32_t(in->text.et2000_prev_time));
    in->text.et2000_prev_frame = in->text.frame_number;
    in->text.et2000_prev_time = time;
    flowlens_text_append(&in->text.writer, " [ET2000: Port X%d.%d / Error 0x%02X / DeltaTime %d]", x, n,
                         frame.u8(at + ET2000_ERROR), delta);
}

bool high_resolution(const flowlens_instance *in) {
    return in->effective_timemode == FLOWLENS_TIMEMODE_HIGH_RESOLUTION;
}

void port_prefix(flowlens_instance *in, uint8_t port) {
    if (!(in->portmarking == 0 || (in->portmarking == 1 && in->network_mode != FLOWLENS_NETWORK_MODE_SINGLE))) return;
    // The prefix takes four characters; the text before it is cut so that
    // the whole stays within the limit.
    constexpr size_t prefix = 4;
    flowlens_text_cut(&in->text.writer, FLOWLENS_TEXT_LIMIT - prefix);
    const size_t length = flowlens_text_length(&in->text.writer);
    std::memmove(in->text.writer.start + prefix, in->text.writer.start, length + 1);
    in->text.writer.start[0] = ' ';
    in->text.writer.start[1] = port == 0 ? '1' : '2';
    in->text.writer.start[2] = ':';
    in->text.writer.start[3] = ' ';
    in->text.writer.pos = in->text.writer.start + length + prefix;
}

}  // namespace

const char *nmt_state_name(uint8_t state) {
    switch (state) {
    case 0x00: return "OFF";
    case 0x19: return "INITIALISING";
    case 0x1C: return "NOT_ACTIVE";
    case 0x1D: return "PRE_OPERATIONAL_1";
    case 0x29: return "RESET_APPLICATION";
    case 0x39: return "RESET_COMMUNICATION";
    case 0x4D: return "STOPPED";
    case 0x5D: return "PRE_OPERATIONAL_2";
    case 0x6D: return "READY_TO_OPERATE";
    case 0x79: return "RESET_CONFIGURATION";
    case 0xFD: return "OPERATIONAL";
    default: break;
    }
    if ((state & 0x0F) == 13) return "EPL_MODE(?)";
    if ((state & 0x0F) == 9) return "INITIALISATION(?)";
    if ((state & 0x0C) == 0x0C) return "COMMUNICATING(?)";
    if (state & 0x08) return "POWERED(?)";
    return "Unknown";
}

void flowlens_frame_text(flowlens_instance *in, const flowlens_packet_info *packet, char *buffer) {
    if (in == nullptr || packet == nullptr || packet->data == nullptr || buffer == nullptr) return;
    buffer[0] = '\0';
    in->text.writer.start = in->text.writer.pos = buffer;
    in->text.frame_number = packet->frame_number;
    in->text.time = packet->time;
    if (packet->frame_number < in->text.last_frame || packet->frame_number > in->text.last_frame + DELTA_FRAME_DISTANCE)
        reset_delta_cells(in);
    in->text.last_frame = packet->frame_number;

    const uint8_t port = packet->port > 1 ? 1 : packet->port;
    flowlens_network *network = &in->networks[(in->network_mode != FLOWLENS_NETWORK_MODE_SINGLE && port == 1) ? 1 : 0];
    const flowlens_bytes frame{packet->data, packet->captured_length};

    int32_t r = int32_t(packet->captured_length) - int32_t(ETH_HEADER);
    if (r <= 0) {
        append(in, FRAME_SLICED);
    } else {
        switch (frame.be16(ETH_TYPE)) {
        case ETHERTYPE_IPV4: r = ipv4_text(in, packet, frame, r, network); break;
        case ETHERTYPE_PLK_V1: v1_text(in, frame.from(ETH_HEADER)); break;
        case ETHERTYPE_PLK_V2: {
            v2_frame f{};
            f.p = frame.from(ETH_HEADER);
            f.mode = v2_mode::ethernet;
            f.network = network;
            f.lookup_destination = f.p.u8(EPL_DESTINATION);
            v2_text(in, f, packet);
            break;
        }
        default: break;
        }
        if (r < 0) append(in, FRAME_SLICED);
    }

    et2000_text(in, packet, frame);

    if (flowlens_text_length(&in->text.writer) == 0) {
        if (!high_resolution(in)) return;
        append(in, "  ");
    }
    if (high_resolution(in)) port_prefix(in, port);
}

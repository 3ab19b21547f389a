#include "flowlens_classify.h"

#include <cstdio>
#include <cstring>

#include "device_catalogue.h"
#include "sdo_tracking.h"

using namespace flowlens_layout;

namespace {

// Where the POWERLINK bytes of a frame are and who sent them.
struct payload_view {
    flowlens_bytes epl;  // from the POWERLINK message type on
    uint8_t source_node;
    uint8_t destination_node;
    bool udp;
    uint32_t ip_source;
    uint32_t ip_destination;
    uint16_t udp_source_port;
    uint16_t udp_destination_port;
};

bool locate_udp_payload(flowlens_bytes frame, payload_view *view) {
    flowlens_bytes ip = frame.from(ETH_HEADER);
    if (ip.size < MIN_UDP_PAYLOAD_FRAME) return false;
    if (ip.u8(IP_PROTOCOL) != IP_PROTOCOL_UDP) return false;
    uint32_t header = uint32_t(ip.u8(IP_VERSION_IHL) & 0x0F) * 4;
    if (header < 20 || !ip.has(header, UDP_HEADER)) return false;
    flowlens_bytes udp = ip.from(header);
    view->udp_source_port = udp.be16(UDP_SOURCE_PORT);
    view->udp_destination_port = udp.be16(UDP_DESTINATION_PORT);
    if (view->udp_source_port != UDP_PORT_POWERLINK && view->udp_destination_port != UDP_PORT_POWERLINK) return false;
    view->udp = true;
    view->ip_source = ip.be32(IP_SOURCE);
    view->ip_destination = ip.be32(IP_DESTINATION);
    // Over UDP the node ids are the last bytes of the IP addresses.
    view->source_node = uint8_t(view->ip_source & 0xFF);
    view->destination_node = uint8_t(view->ip_destination & 0xFF);
    view->epl = udp.from(UDP_HEADER);
    return true;
}

void note_message(flowlens_message_buffer *message, const char *format, int old_value, int new_value) {
    std::snprintf(message->text, sizeof message->text, format, old_value, new_value);
}

bool nmt_state_valid_for_pres(uint8_t state, uint8_t source) {
    if (state == NMT_PRE_OPERATIONAL_1) return source >= FLOWLENS_MN_NODE;
    return state == NMT_PRE_OPERATIONAL_2 || state == NMT_READY_TO_OPERATE || state == NMT_OPERATIONAL;
}

// SoA and AInv: does the frame invite a node, and does that node want it?
frame_class check_invitation(flowlens_network *network, const payload_view &view) {
    const flowlens_bytes &p = view.epl;
    uint8_t requested = p.u8(EPL_SOA_REQUESTED_SERVICE);
    // Only an invitation to send (NMT_REQUEST_INVITE, UNSPEC_INVITE) answers a
    // request the node signalled in its RS field. Ident, status and sync
    // requests are the MN's own polling and never wait for such a request, so
    // they are not judged here.
    if (requested != REQUEST_NMT_INVITE && requested != REQUEST_UNSPEC_INVITE) return 0;
    frame_class cls = FLOWLENS_CLASS_INVITATION;
    if (!p.has(EPL_SOA_TARGET, 1)) return cls;
    uint8_t invited = p.u8(EPL_SOA_TARGET);
    if (invited == view.source_node) return cls;
    const flowlens_node &node = network->nodes[invited];
    bool sent_pres = node.pres != 0;
    bool sent_responses = node.status_response != 0 || node.ident_response != 0;
    if (!sent_pres && !sent_responses) return cls;
    bool requested_by_node = (sent_pres && (node.last_pres_flags & REQUEST_FIELD) != 0) ||
                             (sent_responses && (node.last_asnd_flags & REQUEST_FIELD) != 0);
    if (!requested_by_node) cls |= FLOWLENS_CLASS_INVITE_WITHOUT_REQUEST;
    return cls;
}

// Every PReq comes from the MN, but each carries the mapping version of the
// polled CN's own receive mapping; kept per sending node, CNs with different
// versions would announce a "change" on every PReq. So the version is kept in
// the record of the node the PReq polls.
frame_class classify_preq(flowlens_message_buffer *message, flowlens_network *network, const payload_view &view) {
    flowlens_node &node = network->nodes[view.destination_node];
    uint8_t version = view.epl.u8(EPL_MAPPING_VERSION);
    if (node.preq_mapping_version != version) {
        note_message(message, "PReq Mapping Version changed (%d -> %d)", node.preq_mapping_version, version);
        node.preq_mapping_version = version;
    }
    return 0;
}

frame_class classify_pres(flowlens_message_buffer *message, flowlens_network *network, const payload_view &view) {
    frame_class cls = 0;
    flowlens_node &node = network->nodes[view.source_node];
    uint16_t flags = view.epl.le16(EPL_FLAGS);
    if (node.pres != 0 && ((node.last_pres_flags ^ flags) & (PRES_FLAG_FLS | PRES_FLAG_SLS)) != 0)
        cls |= FLOWLENS_CLASS_FLS_SLS_CHANGED;
    node.pres += 1;
    node.last_pres_flags = flags;
    node.nmt_state = view.epl.u8(EPL_NMT_STATE);
    if (!nmt_state_valid_for_pres(node.nmt_state, view.source_node)) cls |= FLOWLENS_CLASS_INVALID_NMT_STATE;
    uint8_t version = view.epl.u8(EPL_MAPPING_VERSION);
    if (node.pres_mapping_version != version) {
        note_message(message, "PRes Mapping Version changed (%d -> %d)", node.pres_mapping_version, version);
        node.pres_mapping_version = version;
    }
    return cls;
}

frame_class classify_soa(flowlens_network *network, const payload_view &view) {
    frame_class cls = FLOWLENS_CLASS_SOA;
    const flowlens_bytes &p = view.epl;
    uint8_t state = p.u8(EPL_NMT_STATE);
    network->nodes[view.source_node].nmt_state = state;
    if (state == NMT_PRE_OPERATIONAL_1) cls |= FLOWLENS_CLASS_REDUCED_CYCLE;
    cls |= check_invitation(network, view);
    if (p.u8(EPL_SOA_REQUESTED_SERVICE) == REQUEST_SYNC &&
        (!p.has(EPL_SOA_SYNC_CONTROL, 1) || (p.u8(EPL_SOA_SYNC_CONTROL) & SYNC_CONTROL_BIT) == 0))
        cls |= FLOWLENS_CLASS_INVITATION;
    return cls;
}

frame_class classify_ident_response(flowlens_network *network, const payload_view &view) {
    const flowlens_bytes &p = view.epl;
    flowlens_node &node = network->nodes[view.source_node];
    node.ident_response += 1;
    node.nmt_state = p.u8(EPL_IDENT_NMT_STATE);
    node.last_asnd_flags = p.le16(EPL_FLAGS);
    if (p.size >= MIN_IDENT_IDENTITY) {
        flowlens_node_set_identity(&node, p.le32(EPL_IDENT_VENDOR_ID), p.le32(EPL_IDENT_PRODUCT_CODE));
        if (node.object_names_maker) {
            node.revision_word = p.le16(EPL_IDENT_REVISION_WORD);
            node.extension_word = p.le16(EPL_IDENT_EXTENSION_WORD);
        }
    }
    return FLOWLENS_CLASS_IDENT_RESPONSE;
}

frame_class classify_status_response(flowlens_network *network, const payload_view &view) {
    flowlens_node &node = network->nodes[view.source_node];
    node.status_response += 1;
    node.nmt_state = view.epl.u8(EPL_IDENT_NMT_STATE);
    node.last_asnd_flags = view.epl.le16(EPL_FLAGS);
    return FLOWLENS_CLASS_STATUS_RESPONSE;
}

// Walks the records of a dump with variable record length; a record marked
// by the analyzer's trigger status, or one that cannot fit into the dump,
// marks the dump.
bool dump_records_irregular(const flowlens_bytes &p) {
    uint32_t records = p.u8(DUMP_COUNT);
    uint32_t payload = p.size > DUMP_FIRST_RECORD ? p.size - DUMP_FIRST_RECORD : 0;
    uint32_t offset = DUMP_FIRST_RECORD;
    for (uint32_t i = 0; i < records; ++i) {
        if (!p.has(offset, DUMP_RECORD_HEADER)) break;
        uint32_t size = p.le16(offset + DUMP_RECORD_SIZE);
        uint16_t status = p.le16(offset + DUMP_RECORD_STATUS);
        if (status & DUMP_STATUS_TRIGGER) return true;
        uint32_t padded = (size + 3u) & ~3u;
        if (i > 0 && padded + DUMP_RECORD_HEADER >= payload) return true;
        offset += DUMP_RECORD_HEADER + padded;
    }
    return false;
}

frame_class classify_analyzer_dump(flowlens_network *network, const payload_view &view) {
    if (view.source_node >= DUMP_MAX_SOURCE) return 0;
    const flowlens_bytes &p = view.epl;
    frame_class cls = 0;
    flowlens_dump_source &source = network->dumps[view.source_node];
    uint16_t counter = p.le16(DUMP_TOTAL);
    // The first dump of a source sets the expectation; a count of zero (not
    // the value of the expectation, which can legitimately be 0xFFFF) tells
    // that no dump was seen yet.
    if (source.count != 0 && counter != source.next_expected) cls |= FLOWLENS_CLASS_DUMP_LOST;
    if (p.le16(DUMP_LOST) != 0) cls |= FLOWLENS_CLASS_DUMP_LOST;
    source.count += 1;
    source.next_expected = uint16_t(p.u8(DUMP_COUNT) + counter);
    if (p.u8(DUMP_FORMAT) == 0 && dump_records_irregular(p)) cls |= FLOWLENS_CLASS_DUMP_FORMAT;
    return cls;
}

void track_sdo(flowlens_instance *instance, flowlens_network *network, const payload_view &view, flowlens_bytes frame,
               flowlens_classification *result, flowlens_message_buffer *message) {
    if (view.epl.size < MIN_SDO_BYTES) return;
    flowlens_sdo_frame sdo{};
    sdo.epl = view.epl.data;
    sdo.epl_length = view.epl.size;
    sdo.udp_mode = view.udp ? 1 : 0;
    sdo.source_node = view.source_node;
    sdo.destination_node = view.destination_node;
    sdo.ip_source = view.ip_source;
    sdo.ip_destination = view.ip_destination;
    sdo.udp_source_port = view.udp_source_port;
    sdo.udp_destination_port = view.udp_destination_port;
    sdo.source_mac = frame.data + ETH_SOURCE;
    flowlens_sdo_track(instance, &sdo, &network->nodes[view.source_node], result, message);
}

frame_class classify_asnd(flowlens_instance *instance, flowlens_network *network, const payload_view &view,
                          flowlens_bytes frame, flowlens_classification *result, flowlens_message_buffer *message) {
    switch (view.epl.u8(EPL_ASND_SERVICE)) {
    case SERVICE_IDENT_RESPONSE: return classify_ident_response(network, view);
    case SERVICE_STATUS_RESPONSE: return classify_status_response(network, view);
    case SERVICE_SDO: track_sdo(instance, network, view, frame, result, message); return 0;
    case SERVICE_SYNC: return FLOWLENS_CLASS_ASND_SERVICE6;
    case SERVICE_LANYX: return FLOWLENS_CLASS_LANYX;
    case SERVICE_ANALYZER_DUMP: return classify_analyzer_dump(network, view);
    default: return 0;
    }
}

}  // namespace

void flowlens_sdo_track(flowlens_instance *instance, const flowlens_sdo_frame *frame, flowlens_node *source,
                        flowlens_classification *result, flowlens_message_buffer *message) {
    sdo_track_result tracked{};
    tracked.cls = result->cls;
    tracked.abort_code = result->abort_code;
    tracked.message = message->text;
    tracked.message_size = sizeof message->text;
    sdo_track(&instance->sdo, frame, instance->current_frame_number, &tracked);
    result->cls = tracked.cls;
    result->abort_code = tracked.abort_code;
    if (source == nullptr) return;
    if (tracked.maker_objects) source->object_names_maker = 1;
    if (tracked.identity_read) flowlens_node_set_identity(source, maker_vendor_id, tracked.product_code);
}

flowlens_classification flowlens_classify_payload(flowlens_instance *instance, flowlens_network *network,
                                                  flowlens_bytes frame, flowlens_payload_mode mode,
                                                  flowlens_message_buffer *message) {
    flowlens_classification result{0, 0, nullptr};
    message->text[0] = '\0';

    payload_view view{};
    if (mode == flowlens_payload_mode::udp) {
        if (!locate_udp_payload(frame, &view)) return result;
    } else {
        view.epl = frame.from(ETH_HEADER);
        view.source_node = view.epl.u8(EPL_SOURCE);
        view.destination_node = view.epl.u8(EPL_DESTINATION);
    }
    if (view.epl.size < MIN_CLASSIFY_BYTES) return result;

    frame_class cls = 0;
    switch (view.epl.u8(EPL_MESSAGE_TYPE) & 0x7F) {
    case MTYP_PREQ: cls = classify_preq(message, network, view); break;
    case MTYP_PRES: cls = classify_pres(message, network, view); break;
    case MTYP_SOA: cls = classify_soa(network, view); break;
    case MTYP_AINV: cls = check_invitation(network, view); break;
    case MTYP_ASND: cls = classify_asnd(instance, network, view, frame, &result, message); break;
    default: break;
    }
    result.cls |= cls;
    if (message->text[0] != '\0') result.message = message->text;
    return result;
}

// The openSAFETY collection on records as the dissector reports them, built
// from the input's frames, and the UDID recovery on the same frames. After
// every record the tables stay consistent: one record per SADR under its own
// key, partners that are records of the table, and the learned tails unique
// and capped.
//
// Input: record head (type, flags, sender, SDN, counters, frame number
// step), then the frame as 16-bit length + bytes.
#include <algorithm>
#include <cstring>
#include <set>
#include <vector>

#include "fuzz_input.h"
#include "osa_collection.h"
#include "osa_frame.h"

namespace {

constexpr uint8_t kTypes[] = {osa_frame::type_snmt, osa_frame::type_spdo, osa_frame::type_ssdo,
                              osa_frame::type_slim_ssdo};

void checkTables() {
    const osa_node_map *nodes = osa_node_table();
    FUZZ_CHECK(nodes != nullptr);
    for (const auto &entry : *nodes) {
        const osa_node *n = entry.second.get();
        FUZZ_CHECK(n != nullptr);
        FUZZ_CHECK(entry.first == n->sadr);
        FUZZ_CHECK(n->sadr != 0);
        if (n->partner != nullptr) {
            // Reading the partner's fields catches a pointer to a removed record.
            const auto it = nodes->find(n->partner->sadr);
            FUZZ_CHECK(it != nodes->end() && it->second.get() == n->partner);
        }
    }
    const std::vector<uint32_t> &tails = osa_udid_candidates();
    FUZZ_CHECK(tails.size() <= osa_max_udid_tails);
    FUZZ_CHECK(std::set<uint32_t>(tails.begin(), tails.end()).size() == tails.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput in(data, size);
    osa_tap_reset();
    std::vector<uint8_t> frame;
    uint32_t frameNumber = 0;
    unsigned records = 0;
    while (!in.empty()) {
        const uint8_t head = in.u8();
        const uint8_t flags = in.u8();
        osa_frame_record r;
        r.msg_type = (head & 4) ? 0x80 : kTypes[head & 3];  // bit 2: not openSAFETY at all
        r.kind = (head >> 3) & 1;
        r.sender = static_cast<uint16_t>(in.u16() & 0x3FF);
        r.sdn = static_cast<uint16_t>((head & 0x10) ? in.u16() & 0x3FF : 0);
        r.is_request = flags & 1;
        r.has_payload = flags & 2;
        r.udid_valid = flags & 4;
        if (r.udid_valid) {
            const uint8_t udid[6] = {
                osa_udid_prefix[0], osa_udid_prefix[1], osa_udid_prefix[2], in.u8(), in.u8(), in.u8()};
            std::memcpy(r.scm_udid, udid, sizeof udid);
        }
        r.spdo_conn_valid = flags & 8;
        r.spdo_40bit = flags & 16;
        r.spdo_counter16 = in.u16();
        r.spdo_counter40 = (flags & 32) ? (static_cast<uint64_t>(in.u8()) << 32 | in.u32()) : r.spdo_counter16;
        r.spdo_partner = static_cast<uint16_t>(in.u16() & 0x3FF);
        r.snmt_ext_id = in.u8();
        frameNumber += (flags & 64) ? in.u8() : 1;  // frame 0 and repeats happen
        r.frame_number = frameNumber;

        size_t length = 0;
        const uint8_t *bytes = in.sizedChunk(&length);
        frame.assign(bytes, bytes + length);  // exact size, so reads past it are caught
        r.frame = frame.empty() ? nullptr : frame.data();
        r.frame_avail = static_cast<uint32_t>(frame.size());
        // As the dissector reports it: the length from the frame's LEN byte, the
        // second sub-frame where LEN puts it; bit 7 lets the two disagree.
        if (frame.size() > osa_frame::pos_len) {
            const unsigned payload = frame[osa_frame::pos_len];
            r.subframe2 = static_cast<uint16_t>(osa_frame::subframe2_offset(payload));
            r.frame_len = static_cast<uint32_t>(2 * r.subframe2 + 1);
            r.msg_id = frame[osa_frame::pos_id] & 0xFC;
        }
        if (flags & 128) {
            r.frame_len = in.u16();
            r.subframe2 = in.u16();
        }

        if (head & 0x20) {
            // The recovery alone, on a scratch record outside the tables.
            osa_node scratch;
            scratch.sadr = r.sender;
            const int rc = osa_detect_udid(&scratch, &r);
            FUZZ_CHECK(rc == 0 || rc == -1);
            if (rc == 0) {
                FUZZ_CHECK(scratch.udid_valid == 1);
                FUZZ_CHECK(std::memcmp(scratch.scm_udid, osa_udid_prefix, sizeof osa_udid_prefix) == 0);
            }
        }
        const osa_tap_result result = osa_tap_packet(&r);
        FUZZ_CHECK(result == (r.sender == 0 ? OSA_TAP_FAILED : OSA_TAP_DONT_REDRAW));
        if (++records % 16 == 0 || (head & 0x40)) osa_tap_draw();
        checkTables();
    }
    osa_tap_draw();
    checkTables();
    return 0;
}

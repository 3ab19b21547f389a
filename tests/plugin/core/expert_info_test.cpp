// zelanalyzer_expert_info inside a real dissection: the plug-in's code is
// registered into Wireshark's libraries in this process, beside a probe
// protocol on ASnd service 166 whose frames say which severity and text to
// report (first byte severity, the rest the text; 0xFD/0xFE/0xFF leave out
// the text, the item or the packet info).
#include <gtest/gtest.h>

#include <epan/epan.h>
#include <epan/epan_dissect.h>
#include <epan/expert.h>
#include <epan/frame_data.h>
#include <epan/packet.h>
#include <epan/proto.h>
#include <wiretap/wtap.h>
#include <wsutil/privileges.h>

#include <string>
#include <vector>

#include "expert_info.h"
#include "ws_compat.h"
#include "zelanalyzer.h"
#include "analyzer_frame_builder.h"

namespace {

int proto_probe = -1;

int dissect_probe(tvbuff_t *tvb, packet_info *pinfo, proto_tree *tree, void *) {
    proto_item *item = proto_tree_add_item(tree, proto_probe, tvb, 0, -1, ENC_NA);
    const guint8 severity = zel_tvb_get_uint8(tvb, 0);
    const char *text = reinterpret_cast<const char *>(
        tvb_get_string_enc(pinfo->pool, tvb, 1, tvb_captured_length(tvb) - 1, ENC_ASCII));
    if (severity == 0xFD)
        zelanalyzer_expert_info(pinfo, item, 1, NULL);
    else if (severity == 0xFE)
        zelanalyzer_expert_info(pinfo, NULL, 1, text);
    else if (severity == 0xFF)
        zelanalyzer_expert_info(NULL, item, 1, text);
    else
        zelanalyzer_expert_info(pinfo, item, severity, text);
    return tvb_captured_length(tvb);
}

void register_probe() { proto_probe = proto_register_protocol("Expert probe", "Expert probe", "zelprobe"); }
void handoff_probe() { dissector_add_uint("epl.asnd", 0xA6, create_dissector_handle(dissect_probe, proto_probe)); }

const nstime_t *frame_ts(struct packet_provider_data *, guint32) { return NULL; }

struct Logged {
    GLogLevelFlags level;
    std::string text;
};
std::vector<Logged> logged;

// Keeps the helper's own messages; other parts of the plug-in log too
// (the POWERLINK analysis sees the probe frames on "eth").
void capture_log(const gchar *, GLogLevelFlags level, const gchar *message, gpointer) {
    const std::string text = message;
    if (text.find("zelanalyzer_expert_info") != std::string::npos || text == "Unknown severity of message.")
        logged.push_back({static_cast<GLogLevelFlags>(level & G_LOG_LEVEL_MASK), text});
}

struct ExpertEntry {
    std::string field;  // zel.*
    std::string text;
    guint32 severity;
};

class ExpertInfoTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        init_process_policies();
        wtap_init(FALSE);
        static const proto_plugin zelanalyzer = {proto_register_zelanalyzer, proto_reg_handoff_zelanalyzer};
        static const proto_plugin probe = {register_probe, handoff_probe};
        proto_register_plugin(&zelanalyzer);
        proto_register_plugin(&probe);
        // No plug-ins from disk: an installed zelanalyzer.so would register twice.
        ASSERT_TRUE(epan_init(NULL, NULL, FALSE));
        static const struct packet_provider_funcs funcs = {frame_ts, NULL, NULL, NULL};
        session_ = epan_new(NULL, &funcs);
        g_log_set_default_handler(capture_log, NULL);
    }

    static std::vector<ExpertEntry> dissect(guint8 severity, const std::string &text) {
        zelbuild::Bytes payload(text.begin(), text.end());
        payload.insert(payload.begin(), severity);
        const zelbuild::Bytes frame = zelbuild::epl_asnd_frame(0xA6, payload);

        wtap_rec rec;
        wtap_rec_init(&rec);
        rec.rec_type = REC_TYPE_PACKET;
        rec.rec_header.packet_header.caplen = static_cast<guint32>(frame.size());
        rec.rec_header.packet_header.len = static_cast<guint32>(frame.size());
        rec.rec_header.packet_header.pkt_encap = WTAP_ENCAP_ETHERNET;
        frame_data fdata;
        frame_data_init(&fdata, ++frame_number_, &rec, 0, 0);
        nstime_t elapsed;
        const frame_data *reference = NULL;
        frame_data_set_before_dissect(&fdata, &elapsed, &reference, NULL);

        epan_dissect_t *edt = epan_dissect_new(session_, TRUE, TRUE);
        const char *fields[] = {"zel.info", "zel.minor", "zel.major", "zel.severe"};
        for (const char *f : fields) epan_dissect_prime_with_hfid(edt, proto_registrar_get_id_byname(f));
        const int hf_severity = proto_registrar_get_id_byname("_ws.expert.severity");
        epan_dissect_prime_with_hfid(edt, hf_severity);
        tvbuff_t *tvb =
            tvb_new_real_data(frame.data(), static_cast<guint>(frame.size()), static_cast<gint>(frame.size()));
        epan_dissect_run(edt, WTAP_FILE_TYPE_SUBTYPE_UNKNOWN, &rec, tvb, &fdata, NULL);

        std::vector<ExpertEntry> entries;
        GPtrArray *severities = proto_get_finfo_ptr_array(edt->tree, hf_severity);
        for (const char *f : fields) {
            GPtrArray *found = proto_get_finfo_ptr_array(edt->tree, proto_registrar_get_id_byname(f));
            for (guint i = 0; found != NULL && i < found->len; ++i) {
                const field_info *fi = static_cast<const field_info *>(g_ptr_array_index(found, i));
                ExpertEntry e{f, fi->rep != NULL ? fi->rep->representation : "", 0};
                if (severities != NULL && severities->len == 1)
                    e.severity = fvalue_get_uinteger(
                        zel_field_value(static_cast<field_info *>(g_ptr_array_index(severities, 0))));
                entries.push_back(e);
            }
        }
        epan_dissect_free(edt);
        frame_data_destroy(&fdata);
        wtap_rec_cleanup(&rec);
        return entries;
    }

    void SetUp() override { logged.clear(); }

    static epan_t *session_;
    static guint32 frame_number_;
};
epan_t *ExpertInfoTest::session_ = NULL;
guint32 ExpertInfoTest::frame_number_ = 0;

}  // namespace

TEST_F(ExpertInfoTest, EachSeverityPicksItsFieldAndHostSeverity) {
    struct Case {
        guint8 severity;
        const char *field;
        guint32 host_severity;
    };
    for (const Case &c : {Case{0, "zel.info", PI_NOTE}, Case{1, "zel.minor", PI_WARN}, Case{2, "zel.major", PI_ERROR},
                          Case{3, "zel.severe", PI_ERROR}}) {
        SCOPED_TRACE(c.field);
        const auto entries = dissect(c.severity, "Powerlink cycle lost");
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].field, c.field);
        EXPECT_EQ(entries[0].text, "Powerlink cycle lost");
        EXPECT_EQ(entries[0].severity, c.host_severity);
    }
}

TEST_F(ExpertInfoTest, PercentSignsInTheTextAreShownAsTheyAre) {
    const auto entries = dissect(1, "jitter %d%% over %s");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].text, "jitter %d%% over %s");
}

TEST_F(ExpertInfoTest, UnknownSeverityAddsNothingAndWarns) {
    EXPECT_TRUE(dissect(4, "never shown").empty());
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].level, G_LOG_LEVEL_WARNING);
    EXPECT_EQ(logged[0].text, "Unknown severity of message.");
}

TEST_F(ExpertInfoTest, MissingArgumentsAreLoggedAtDebugLevelOnly) {
    EXPECT_TRUE(dissect(0xFF, "no pinfo").empty());
    EXPECT_TRUE(dissect(0xFE, "no item").empty());
    EXPECT_TRUE(dissect(0xFD, "no text").empty());
    ASSERT_EQ(logged.size(), 3u);
    EXPECT_EQ(logged[0].text, "pinfo in zelanalyzer_expert_info is NULL");
    EXPECT_EQ(logged[1].text, "tree in zelanalyzer_expert_info is NULL");
    EXPECT_EQ(logged[2].text, "msg in zelanalyzer_expert_info is NULL");
    for (const Logged &l : logged) EXPECT_EQ(l.level, G_LOG_LEVEL_DEBUG);
}

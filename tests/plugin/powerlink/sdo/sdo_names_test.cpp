// Abort-code texts, NMT command names, the device catalogue and the
// object-dictionary names behind the SDO texts.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "abort_codes.h"
#include "device_catalogue.h"
#include "flowlens.h"
#include "nmt_names.h"
#include "od_names.h"

namespace {

TEST(AbortCodes, TableHoldsThe31NamedCodesInOrder) {
    ASSERT_EQ(abort_code_table_size, 31u);
    for (size_t i = 1; i < abort_code_table_size; ++i)
        EXPECT_LT(abort_code_table[i - 1].code, abort_code_table[i].code) << i;
    for (size_t i = 0; i < abort_code_table_size; ++i) {
        const std::string text = abort_code_table[i].text;
        EXPECT_EQ(text.front(), '\'');
        EXPECT_EQ(text.back(), '\'');
    }
}

TEST(AbortCodes, KnownCodesAreNamed) {
    EXPECT_STREQ(abort_code_text(0x06020000), "'Object does not exist in the object dictionary'");
    EXPECT_STREQ(abort_code_text(0x05030000), "'reserved'");
    EXPECT_STREQ(abort_code_text(0x08000024), "'EDS, DCF or Concise DCF Data set empty'");
    EXPECT_STREQ(abort_code_text(0x06090011), "'Sub-index does not exist'");
    EXPECT_STREQ(abort_code_text(0x08000000), "'General error'");
}

TEST(AbortCodes, UnknownCodesPointToTheStandard) {
    for (uint32_t code : {0u, 0x06020001u, 0x08000025u, 0xFFFFFFFFu, 0x06070011u})
        EXPECT_STREQ(abort_code_text(code), "'see Powerlink Specification'") << std::hex << code;
}

TEST(NmtCommandNames, NamesTheResetCommands) {
    EXPECT_STREQ(nmt_command_name(0x21), "NMTStartNode");
    EXPECT_STREQ(nmt_command_name(0x28), "NMTResetNode");
    EXPECT_STREQ(nmt_command_name(0x2D), "NMTDna");
    EXPECT_STREQ(nmt_command_name(0x4C), "NMTGoToStandbyEx");
    EXPECT_STREQ(nmt_command_name(0xFF), "NMTInvalidService");
    int named = 0;
    for (int c = 0; c < 256; ++c) named += nmt_command_name(uint8_t(c)) != nullptr;
    EXPECT_EQ(named, 20);
    EXPECT_EQ(nmt_command_name(0x25), nullptr);
    EXPECT_EQ(nmt_command_name(0x00), nullptr);
}

TEST(DeviceCatalogue, HoldsTheMakersProductsWithTheirCapabilities) {
    ASSERT_EQ(device_catalogue_size(), 99u);
    size_t bus_controllers = 0, with_slots = 0;
    std::set<uint16_t> codes;
    std::set<std::string> names;
    for (size_t i = 0; i < device_catalogue_size(); ++i) {
        const device_catalogue_row &row = device_catalogue[i];
        EXPECT_EQ(row.vendor_id, maker_vendor_id);
        ASSERT_NE(row.model_name, nullptr);
        EXPECT_EQ(std::string(row.model_name).rfind("Zelmar ", 0), 0u) << row.model_name;
        bus_controllers += (row.capabilities & DEVICE_CAPABILITY_BUS_CONTROLLER) != 0;
        with_slots += (row.capabilities & DEVICE_CAPABILITY_INTERFACE_SLOTS) != 0;
        codes.insert(row.product_code);
        names.insert(row.model_name);
        // Slot objects are named only for bus controllers, so a slot device is one.
        if (row.capabilities & DEVICE_CAPABILITY_INTERFACE_SLOTS) {
            EXPECT_TRUE(row.capabilities & DEVICE_CAPABILITY_BUS_CONTROLLER) << row.model_name;
        }
    }
    EXPECT_EQ(bus_controllers, 15u);
    EXPECT_EQ(with_slots, 2u);
    EXPECT_EQ(codes.size(), 99u) << "product codes must be unique, the first match wins";
    EXPECT_EQ(names.size(), 99u);
    EXPECT_EQ(device_catalogue[99].vendor_id, 0u);
}

TEST(DeviceCatalogue, FindsByVendorAndProduct) {
    const device_catalogue_row *row = device_catalogue_find(maker_vendor_id, device_catalogue[5].product_code);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row, &device_catalogue[5]);
    EXPECT_EQ(device_catalogue_find(0x00000001, device_catalogue[5].product_code), nullptr);
    EXPECT_EQ(device_catalogue_find(maker_vendor_id, 0xFFFF), nullptr);
    EXPECT_EQ(device_catalogue_find(0, 0), nullptr) << "the end row is not a product";
    // A 32-bit product code that only matches in its low 16 bits is someone else's.
    EXPECT_EQ(device_catalogue_find(maker_vendor_id, 0x10000u | device_catalogue[5].product_code), nullptr);
}

TEST(DeviceCatalogue, MakerMacPrefix) {
    const uint8_t ours[6] = {0x02, 0xD7, 0xA5, 0x12, 0x34, 0x56};
    const uint8_t theirs[6] = {0x00, 0x60, 0x65, 0x12, 0x34, 0x56};
    const uint8_t near[6] = {0x02, 0xD7, 0xA4, 0x12, 0x34, 0x56};
    EXPECT_TRUE(mac_is_maker(ours));
    EXPECT_FALSE(mac_is_maker(theirs));
    EXPECT_FALSE(mac_is_maker(near));
    EXPECT_FALSE(mac_is_maker(nullptr));
    EXPECT_EQ(maker_vendor_id, 0x5A454C4Du);
    EXPECT_EQ(maker_oui, 0x02D7A5u);
}

TEST(ObjectNames, ListsAreSortedWithoutDuplicates) {
    EXPECT_EQ(od_standard_names_size, 105u);
    EXPECT_EQ(od_maker_names_size, 126u);
    for (const auto &[table, size] : {std::make_pair(od_standard_names, od_standard_names_size),
                                      std::make_pair(od_maker_names, od_maker_names_size)}) {
        for (size_t i = 1; i < size; ++i) {
            const uint32_t a = (uint32_t(table[i - 1].index) << 8) | table[i - 1].sub_index;
            const uint32_t b = (uint32_t(table[i].index) << 8) | table[i].sub_index;
            EXPECT_LT(a, b) << "entry " << i;
        }
    }
    // Every entry is found again through the lookup (the bisection needs the order).
    for (size_t i = 0; i < od_standard_names_size; ++i) {
        const od_name_entry &e = od_standard_names[i];
        const std::string text = od_object_name(nullptr, e.index, e.sub_index);
        EXPECT_NE(text.find(e.name), std::string::npos) << std::hex << e.index << "/" << int(e.sub_index);
    }
    for (size_t i = 0; i < od_maker_names_size; ++i) {
        const od_name_entry &e = od_maker_names[i];
        const std::string text = od_object_name_flags(true, false, e.index, e.sub_index);
        EXPECT_NE(text.find(e.name), std::string::npos) << std::hex << e.index << "/" << int(e.sub_index);
    }
}

TEST(ObjectNames, StandardObjectsForEveryNode) {
    EXPECT_STREQ(od_object_name(nullptr, 0x1000, 0), " NMT_DeviceType_U32");
    EXPECT_STREQ(od_object_name(nullptr, 0x1018, 0), " NMT_IdentityObject_REC");
    EXPECT_STREQ(od_object_name(nullptr, 0x1018, 2), " NMT_IdentityObject_REC / ProductCode_U32");
    EXPECT_STREQ(od_object_name(nullptr, 0x1F98, 8), " NMT_CycleTiming_REC / AsyncMTUSize_U16");
    EXPECT_STREQ(od_object_name(nullptr, 0x1F50, 1), " Program_1_DOM");
    EXPECT_STREQ(od_object_name(nullptr, 0x1F9E, 0), " NMT_ResetCmd_U8");
    EXPECT_STREQ(od_object_name(nullptr, 0x1003, 5), " ERR_History_ADOM[..]");
    EXPECT_STREQ(od_object_name(nullptr, 0x1003, 0), " ERR_History_ADOM");
    EXPECT_STREQ(od_object_name(nullptr, 0x1016, 3), " NMT_ConsumerHeartbeatTime_AU32[..]");
    EXPECT_STREQ(od_object_name(nullptr, 0x1F81, 1), " CNAssignment[..]");
    EXPECT_STREQ(od_object_name(nullptr, 0x1F8D, 7), " PResPayload[..]");
    EXPECT_STREQ(od_object_name(nullptr, 0x1F9B, 0), " NMT_MultiplCycleAssign_AU8[..]");
}

TEST(ObjectNames, PdoParameterRanges) {
    EXPECT_STREQ(od_object_name(nullptr, 0x1400, 0), " PDO_RxCommParam / NumberOfEntries");
    EXPECT_STREQ(od_object_name(nullptr, 0x140F, 1), " PDO_RxCommParam / NodeID_U8");
    EXPECT_STREQ(od_object_name(nullptr, 0x1405, 2), " PDO_RxCommParam / MappingVersion_U8");
    EXPECT_STREQ(od_object_name(nullptr, 0x1405, 3), " PDO_RxCommParam / ??");
    EXPECT_STREQ(od_object_name(nullptr, 0x1600, 0), " PDO_RxMappParam / NumberOfEntries");
    EXPECT_STREQ(od_object_name(nullptr, 0x1600, 17), " PDO_RxMappParam / ObjectMapping");
    EXPECT_STREQ(od_object_name(nullptr, 0x1800, 1), " PDO_TxCommParam / NodeID_U8");
    EXPECT_STREQ(od_object_name(nullptr, 0x1A0F, 254), " PDO_TxMappParam / ObjectMapping");
    // Just outside the ranges.
    EXPECT_STREQ(od_object_name(nullptr, 0x1410, 0), "");
    EXPECT_STREQ(od_object_name(nullptr, 0x1A10, 1), "");
}

TEST(ObjectNames, MakerObjectsOnlyForMakerBusControllers) {
    flowlens_node plain{};
    flowlens_node controller{};
    controller.object_names_maker = 1;
    EXPECT_STREQ(od_object_name(&controller, 0x2000, 1), " Lanyx_Config_REC / Lanyx_CycleMode_U8");
    EXPECT_STREQ(od_object_name(&controller, 0x2000, 0), " Lanyx_Config_REC");
    EXPECT_STREQ(od_object_name(&plain, 0x2000, 1), "");
    EXPECT_STREQ(od_object_name(nullptr, 0x2000, 1), "");
    EXPECT_STREQ(od_object_name(&controller, 0x20F8, 3), " DUMMY_MapObjects_AU8[3]");
    EXPECT_STREQ(od_object_name(&controller, 0x20F0, 27), " BC_Internal_REC / BC_ZelmarVendorId_U32");
    EXPECT_STREQ(od_object_name(&controller, 0x2011, 7), " ?? ") << "0x2011/7 is a gap in the record";
    EXPECT_STREQ(od_object_name(&controller, 0x2013, 0), " DIA_ExceptionLog_ADOM");
    EXPECT_STREQ(od_object_name(&controller, 0x2013, 4), " DIA_ExceptionLog_DOM[..]");
    EXPECT_STREQ(od_object_name(&controller, 0x20B0, 2), " MOD_NetworkStatus_AU64[..]");
    // Standard objects keep their names on a controller; unknown ones get " ?? ".
    EXPECT_STREQ(od_object_name(&controller, 0x1018, 1), " NMT_IdentityObject_REC / VendorId_U32");
    EXPECT_STREQ(od_object_name(&controller, 0x1FFF, 0), " ?? ");
    EXPECT_STREQ(od_object_name(&plain, 0x1FFF, 0), "");
}

TEST(ObjectNames, InterfaceSlotRecords) {
    flowlens_node controller{};
    controller.object_names_maker = 1;
    EXPECT_STREQ(od_object_name(&controller, 0x20C0, 0), " IF_SlotConfig_1_IF1_REC");
    EXPECT_STREQ(od_object_name(&controller, 0x20C0, 35), " IF_SlotConfig_1_IF1_REC / IF_Firmware_DOM");
    EXPECT_STREQ(od_object_name(&controller, 0x20C8, 35), " IF_SlotConfig_2_IF1_REC / IF_Firmware_DOM");
    EXPECT_STREQ(od_object_name(&controller, 0x20DF, 19), " IF_SlotConfig_4_IF8_REC / IF_SerialNo_U32");
    EXPECT_STREQ(od_object_name(&controller, 0x20C1, 43), " IF_SlotConfig_1_IF2_REC / MOD_OutputImage_AUX4_DOM");
    EXPECT_STREQ(od_object_name(&controller, 0x20C1, 44), " IF_SlotConfig_1_IF2_REC / reserved");
}

TEST(ObjectNames, ModuleConfigurationRecords) {
    flowlens_node controller{};
    controller.object_names_maker = 1;
    EXPECT_STREQ(od_object_name(&controller, 0x2105, 150), " MOD_Config_05h_REC / MOD_CfgEntry_050_U64");
    EXPECT_STREQ(od_object_name(&controller, 0x2105, 100), " MOD_Config_05h_REC / MOD_CfgEntry_000_U64");
    EXPECT_STREQ(od_object_name(&controller, 0x21FF, 255), " MOD_Config_XXh_REC / MOD_CfgEntry_155_U64");
    EXPECT_STREQ(od_object_name(&controller, 0x2100, 1), " MOD_Config_00h_REC / MOD_ChildCfgIndex_U16");
    EXPECT_STREQ(od_object_name(&controller, 0x21AB, 26), " MOD_Config_ABh_REC / MOD_AsicDiagnoseCount_U32");
    EXPECT_STREQ(od_object_name(&controller, 0x2110, 50), " MOD_Config_10h_REC / MOD_FirmwareChannel_U16");
    EXPECT_STREQ(od_object_name(&controller, 0x2110, 90), " MOD_Config_10h_REC / MOD_CfgFunctionMode_U8");
    EXPECT_STREQ(od_object_name(&controller, 0x2110, 93), " MOD_Config_10h_REC / MOD_SyncInSize_U8");
    // Gaps and the range between the members and the entries name the record alone.
    EXPECT_STREQ(od_object_name(&controller, 0x2110, 24), " MOD_Config_10h_REC");
    EXPECT_STREQ(od_object_name(&controller, 0x2110, 94), " MOD_Config_10h_REC");
    EXPECT_STREQ(od_object_name(&controller, 0x2110, 99), " MOD_Config_10h_REC");
    EXPECT_STREQ(od_object_name(&controller, 0x2110, 0), " MOD_Config_10h_REC");
}

TEST(ObjectNames, SlotObjectsNeedTheSlotFlag) {
    flowlens_node slotted{};
    slotted.object_names_maker = 1;
    slotted.object_names_slots = 1;
    flowlens_node controller{};
    controller.object_names_maker = 1;
    EXPECT_STREQ(od_object_name(&slotted, 0x3000, 1), " PCI_Slot_1_IF1 (Object 0x2000/1)");
    EXPECT_STREQ(od_object_name(&slotted, 0x3800, 1), " PCI_Slot_1_IF2 (Object 0x2000/1)");
    EXPECT_STREQ(od_object_name(&slotted, 0x4123, 7), " PCI_Slot_2_IF1 (Object 0x2123/7)");
    EXPECT_STREQ(od_object_name(&slotted, 0x5FFF, 0), " PCI_Slot_3_IF2 (Object 0x27FF/0)");
    EXPECT_STREQ(od_object_name(&slotted, 0x7001, 2), " PCI_Slot_1_IF1 (Object 0x6001/2)");
    EXPECT_STREQ(od_object_name(&slotted, 0x8A00, 2), " PCI_Slot_2_IF2 (Object 0x6200/2)");
    EXPECT_STREQ(od_object_name(&slotted, 0x9000, 0), " PCI_Slot_3_IF1 (Object 0x6000/0)");
    EXPECT_STREQ(od_object_name(&slotted, 0x6000, 1), "");
    EXPECT_STREQ(od_object_name(&controller, 0x3000, 1), " ?? ");
    EXPECT_STREQ(od_object_name(&slotted, 0xA000, 1), " ?? ");
}

TEST(ObjectNames, TextSurvivesUntilTheNextCall) {
    const char *first = od_object_name(nullptr, 0x1000, 0);
    const std::string copy = first;
    const char *second = od_object_name(nullptr, 0x1018, 4);
    EXPECT_EQ(copy, " NMT_DeviceType_U32");
    EXPECT_STREQ(second, " NMT_IdentityObject_REC / SerialNo_U32");
}

}  // namespace

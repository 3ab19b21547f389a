#include "od_names.h"

#include <cstdarg>
#include <cstdio>

#include "flowlens.h"

const od_name_entry od_standard_names[] = {
    {0x1000, 0, nullptr, "NMT_DeviceType_U32"},
    {0x1001, 0, nullptr, "ERR_ErrorRegister_U8"},
    {0x1003, 0, nullptr, "ERR_History_ADOM"},
    {0x1006, 0, nullptr, "NMT_CycleLen_U32"},
    {0x1008, 0, nullptr, "NMT_ManufactDevName_VS"},
    {0x1009, 0, nullptr, "NMT_ManufactHwVers_VS"},
    {0x100A, 0, nullptr, "NMT_ManufactSwVers_VS"},
    {0x1010, 0, nullptr, "NMT_StoreParam_REC"},
    {0x1010, 1, "NMT_StoreParam_REC", "AllParam_U32"},
    {0x1010, 2, "NMT_StoreParam_REC", "CommunicationParam_U32"},
    {0x1010, 3, "NMT_StoreParam_REC", "ApplicationParam_U32"},
    {0x1011, 0, nullptr, "NMT_RestoreParam_REC"},
    {0x1011, 1, "NMT_RestoreParam_REC", "AllParam_U32"},
    {0x1011, 2, "NMT_RestoreParam_REC", "CommunicationParam_U32"},
    {0x1011, 3, "NMT_RestoreParam_REC", "ApplicationParam_U32"},
    {0x1016, 0, nullptr, "NMT_ConsumerHeartbeatTime_AU32"},
    {0x1018, 0, nullptr, "NMT_IdentityObject_REC"},
    {0x1018, 1, "NMT_IdentityObject_REC", "VendorId_U32"},
    {0x1018, 2, "NMT_IdentityObject_REC", "ProductCode_U32"},
    {0x1018, 3, "NMT_IdentityObject_REC", "RevisionNo_U32"},
    {0x1018, 4, "NMT_IdentityObject_REC", "SerialNo_U32"},
    {0x1020, 0, nullptr, "CFM_VerifyConfiguration_REC"},
    {0x1020, 1, "CFM_VerifyConfiguration_REC", "ConfDate_U32"},
    {0x1020, 2, "CFM_VerifyConfiguration_REC", "ConfTime_U32"},
    {0x1020, 3, "CFM_VerifyConfiguration_REC", "ConfId_U32"},
    {0x1020, 4, "CFM_VerifyConfiguration_REC", "VerifyConfInvalid_BOOL"},
    {0x1021, 0, nullptr, "CFM_StoreDevDescrFile_DOM"},
    {0x1022, 0, nullptr, "CFM_StoreDevDescrFormat_U16"},
    {0x1030, 0, nullptr, "NMT_InterfaceGroup_0h_REC"},
    {0x1030, 1, "NMT_InterfaceGroup_0h_REC", "InterfaceIndex_U16"},
    {0x1030, 2, "NMT_InterfaceGroup_0h_REC", "InterfaceDescription_VSTR"},
    {0x1030, 3, "NMT_InterfaceGroup_0h_REC", "InterfaceType_U8"},
    {0x1030, 4, "NMT_InterfaceGroup_0h_REC", "InterfaceMtu_U32"},
    {0x1030, 5, "NMT_InterfaceGroup_0h_REC", "InterfacePhysAddress_OSTR"},
    {0x1030, 6, "NMT_InterfaceGroup_0h_REC", "InterfaceName_VSTR"},
    {0x1030, 7, "NMT_InterfaceGroup_0h_REC", "InterfaceOperStatus_U8"},
    {0x1030, 8, "NMT_InterfaceGroup_0h_REC", "InterfaceAdminState_U8"},
    {0x1030, 9, "NMT_InterfaceGroup_0h_REC", "Valid_BOOL"},
    {0x1050, 0, nullptr, "NMT_RelativeLatencyDiff_AU32"},
    {0x1101, 0, nullptr, "DIA_NMTTelegrCount_REC"},
    {0x1102, 0, nullptr, "DIA_ERRStatistics_REC"},
    {0x1C0A, 0, nullptr, "DLL_CNCollision_REC"},
    {0x1C0A, 1, "DLL_CNCollision_REC", "CumulativeCnt_U32"},
    {0x1C0A, 2, "DLL_CNCollision_REC", "ThresholdCnt_U32"},
    {0x1C0A, 3, "DLL_CNCollision_REC", "Threshold_U32"},
    {0x1C0B, 0, nullptr, "DLL_CNLossSoC_REC"},
    {0x1C0B, 1, "DLL_CNLossSoC_REC", "CumulativeCnt_U32"},
    {0x1C0B, 2, "DLL_CNLossSoC_REC", "ThresholdCnt_U32"},
    {0x1C0B, 3, "DLL_CNLossSoC_REC", "Threshold_U32"},
    {0x1C0C, 0, nullptr, "DLL_CNLossSoA_REC"},
    {0x1C0C, 1, "DLL_CNLossSoA_REC", "CumulativeCnt_U32"},
    {0x1C0C, 2, "DLL_CNLossSoA_REC", "ThresholdCnt_U32"},
    {0x1C0C, 3, "DLL_CNLossSoA_REC", "Threshold_U32"},
    {0x1C0D, 0, nullptr, "DLL_CNLossPReq_REC"},
    {0x1C0D, 1, "DLL_CNLossPReq_REC", "CumulativeCnt_U32"},
    {0x1C0D, 2, "DLL_CNLossPReq_REC", "ThresholdCnt_U32"},
    {0x1C0D, 3, "DLL_CNLossPReq_REC", "Threshold_U32"},
    {0x1C0E, 0, nullptr, "DLL_CNSoCJitter_REC"},
    {0x1C0E, 1, "DLL_CNSoCJitter_REC", "CumulativeCnt_U32"},
    {0x1C0E, 2, "DLL_CNSoCJitter_REC", "ThresholdCnt_U32"},
    {0x1C0E, 3, "DLL_CNSoCJitter_REC", "Threshold_U32"},
    {0x1C0F, 0, nullptr, "DLL_CNCRCError_REC"},
    {0x1C0F, 1, "DLL_CNCRCError_REC", "CumulativeCnt_U32"},
    {0x1C0F, 2, "DLL_CNCRCError_REC", "ThresholdCnt_U32"},
    {0x1C0F, 3, "DLL_CNCRCError_REC", "Threshold_U32"},
    {0x1C10, 0, nullptr, "DLL_CNLossOfLinkCum_U32"},
    {0x1C13, 0, nullptr, "DLL_CNSoCJitterRange_U32"},
    {0x1C14, 0, nullptr, "DLL_LossOfFrameTolerance_U32"},
    {0x1E40, 0, nullptr, "NWL_IpAddrTable_0h_REC"},
    {0x1E40, 1, "NWL_IpAddrTable_0h_REC", "IfIndex_U16"},
    {0x1E40, 2, "NWL_IpAddrTable_0h_REC", "Addr_IPAD"},
    {0x1E40, 3, "NWL_IpAddrTable_0h_REC", "NetMask_IPAD"},
    {0x1E40, 4, "NWL_IpAddrTable_0h_REC", "ReasmMaxSize_U16"},
    {0x1E40, 5, "NWL_IpAddrTable_0h_REC", "DefaultGateway_IPAD"},
    {0x1E4A, 0, nullptr, "NWL_IpGroup_REC"},
    {0x1E4A, 1, "NWL_IpGroup_REC", "Forwarding_BOOL"},
    {0x1E4A, 2, "NWL_IpGroup_REC", "DefaultTTL_U16"},
    {0x1E4A, 3, "NWL_IpGroup_REC", "ForwardDatagrams_U32"},
    {0x1F50, 0, nullptr, "PDL_DownloadProgData_ADOM"},
    {0x1F50, 1, nullptr, "Program_1_DOM"},
    {0x1F51, 0, nullptr, "PDL_ProgCtrl_AU8"},
    {0x1F51, 1, nullptr, "ProgCtrl_1_U8"},
    {0x1F52, 0, nullptr, "PDL_LocVerApplSw_REC"},
    {0x1F52, 1, "PDL_LocVerApplSw_REC", "ApplSwDate_U32"},
    {0x1F52, 2, "PDL_LocVerApplSw_REC", "ApplSwTime_U32"},
    {0x1F81, 0, nullptr, "NMT_CNAssignment_AU32"},
    {0x1F82, 0, nullptr, "NMT_FeatureFlags_U32"},
    {0x1F83, 0, nullptr, "NMT_EPLVersion_U8"},
    {0x1F8C, 0, nullptr, "NMT_CurrNMTState_U8"},
    {0x1F8D, 0, nullptr, "NMT_PResPayloadList_AU16"},
    {0x1F93, 0, nullptr, "NMT_EPLNodeID_REC"},
    {0x1F93, 1, "NMT_EPLNodeID_REC", "NodeID_U8"},
    {0x1F93, 2, "NMT_EPLNodeID_REC", "NodeIDByHW_BOOL"},
    {0x1F98, 0, nullptr, "NMT_CycleTiming_REC"},
    {0x1F98, 1, "NMT_CycleTiming_REC", "IsochrTxMaxPayload_U16"},
    {0x1F98, 2, "NMT_CycleTiming_REC", "IsochrRxMaxPayload_U16"},
    {0x1F98, 3, "NMT_CycleTiming_REC", "PResMaxLatency_U32"},
    {0x1F98, 4, "NMT_CycleTiming_REC", "PReqActPayload_U16"},
    {0x1F98, 5, "NMT_CycleTiming_REC", "PResActPayload_U16"},
    {0x1F98, 6, "NMT_CycleTiming_REC", "ASndMaxLatency_U32"},
    {0x1F98, 7, "NMT_CycleTiming_REC", "MultiplCycleCnt_U8"},
    {0x1F98, 8, "NMT_CycleTiming_REC", "AsyncMTUSize_U16"},
    {0x1F99, 0, nullptr, "NMT_CNBasicEthernetTimeout_U32"},
    {0x1F9A, 0, nullptr, "NMT_HostName_VSTR"},
    {0x1F9E, 0, nullptr, "NMT_ResetCmd_U8"},
};

const od_name_entry od_maker_names[] = {
    {0x2000, 0, nullptr, "Lanyx_Config_REC"},
    {0x2000, 1, "Lanyx_Config_REC", "Lanyx_CycleMode_U8"},
    {0x2000, 2, "Lanyx_Config_REC", "Lanyx_CycleFactor_S8"},
    {0x2000, 3, "Lanyx_Config_REC", "Lanyx_CycleTimeUs_U32"},
    {0x2000, 4, "Lanyx_Config_REC", "Lanyx_SyncMode_U8"},
    {0x2000, 5, "Lanyx_Config_REC", "Lanyx_SyncShiftUs_S32"},
    {0x2000, 6, "Lanyx_Config_REC", "Lanyx_SyncOutSize_U16"},
    {0x2000, 7, "Lanyx_Config_REC", "Lanyx_SyncInSize_U16"},
    {0x2000, 8, "Lanyx_Config_REC", "Lanyx_AsyncSize_U16"},
    {0x2000, 9, "Lanyx_Config_REC", "Lanyx_PhysicalSlots_U8"},
    {0x2000, 10, "Lanyx_Config_REC", "Lanyx_StartupDelayUs_U32"},
    {0x2000, 11, "Lanyx_Config_REC", "Lanyx_CfgModeUploadDisable_BOOL"},
    {0x2000, 12, "Lanyx_Config_REC", "Lanyx_ResponseMinUs_U16"},
    {0x2000, 13, "Lanyx_Config_REC", "Lanyx_ResponseMaxUs_U16"},
    {0x2000, 14, "Lanyx_Config_REC", "Lanyx_ResponseAverageUs_U16"},
    {0x2001, 0, nullptr, "Lanyx_OutputConfig_REC"},
    {0x2001, 1, "Lanyx_OutputConfig_REC", "Lanyx_OutputControl_U8"},
    {0x2001, 2, "Lanyx_OutputConfig_REC", "Lanyx_OutputOffDelayUs_U32"},
    {0x2001, 3, "Lanyx_OutputConfig_REC", "Lanyx_OutputForceTimeUs_U32"},
    {0x2001, 4, "Lanyx_OutputConfig_REC", "Lanyx_ModuleErrorReaction_U8"},
    {0x2001, 5, "Lanyx_OutputConfig_REC", "Lanyx_PollReady0_Limit_U8"},
    {0x2001, 6, "Lanyx_OutputConfig_REC", "Lanyx_PollReady0_InhibitTimeMs_U16"},
    {0x2001, 7, "Lanyx_OutputConfig_REC", "Lanyx_LocalNetTime_BOOL"},
    {0x2001, 8, "Lanyx_OutputConfig_REC", "Lanyx_StreamControl_U32"},
    {0x2001, 9, "Lanyx_OutputConfig_REC", "Lanyx_StreamData_DOM"},
    {0x2002, 0, nullptr, "EEC_Config_REC"},
    {0x2002, 1, "EEC_Config_REC", "EEC_AutoNegIFx_U16"},
    {0x2005, 0, nullptr, "Lanyx_IoDataBasic_REC"},
    {0x2005, 1, "Lanyx_IoDataBasic_REC", "Lanyx_InputBasic_DOM"},
    {0x2005, 2, "Lanyx_IoDataBasic_REC", "Lanyx_OutputBasic_DOM"},
    {0x2005, 3, "Lanyx_IoDataBasic_REC", "Lanyx_OutputBasicWatchdogMs_U16"},
    {0x2005, 4, "Lanyx_IoDataBasic_REC", "Lanyx_OutputBasicLocked_BOOL"},
    {0x2011, 0, nullptr, "DIA_StatisticCount_REC"},
    {0x2011, 1, "DIA_StatisticCount_REC", "DIA_Total_U32"},
    {0x2011, 2, "DIA_StatisticCount_REC", "DIA_EthRxLost_U32"},
    {0x2011, 3, "DIA_StatisticCount_REC", "DIA_EthRxOversize_U32"},
    {0x2011, 4, "DIA_StatisticCount_REC", "DIA_EthRxCrcError_U32"},
    {0x2011, 5, "DIA_StatisticCount_REC", "DIA_EthRxOverflow_U32"},
    {0x2011, 6, "DIA_StatisticCount_REC", "DIA_EthTxCollision_U32"},
    {0x2011, 8, "DIA_StatisticCount_REC", "DIA_Phy7LinkLoss_U32"},
    {0x2011, 9, "DIA_StatisticCount_REC", "DIA_Phy8LinkLoss_U32"},
    {0x2011, 10, "DIA_StatisticCount_REC", "DIA_Phy1LinkLoss_U32"},
    {0x2011, 11, "DIA_StatisticCount_REC", "DIA_Phy2LinkLoss_U32"},
    {0x2011, 12, "DIA_StatisticCount_REC", "DIA_Phy3LinkLoss_U32"},
    {0x2011, 13, "DIA_StatisticCount_REC", "DIA_Phy4LinkLoss_U32"},
    {0x2011, 14, "DIA_StatisticCount_REC", "DIA_Phy5LinkLoss_U32"},
    {0x2011, 15, "DIA_StatisticCount_REC", "DIA_Phy6LinkLoss_U32"},
    {0x2011, 16, "DIA_StatisticCount_REC", "DIA_LykCycleCount_U32"},
    {0x2011, 17, "DIA_StatisticCount_REC", "DIA_LykBreakCount_U32"},
    {0x2011, 18, "DIA_StatisticCount_REC", "DIA_LykSyncErrorCount_U32"},
    {0x2011, 19, "DIA_StatisticCount_REC", "DIA_LykSyncBusyErrorCount_U32"},
    {0x2011, 20, "DIA_StatisticCount_REC", "DIA_LykSyncNoRxErrorCount_U32"},
    {0x2011, 21, "DIA_StatisticCount_REC", "DIA_LykSyncFormatErrorCount_U32"},
    {0x2011, 22, "DIA_StatisticCount_REC", "DIA_LykSyncPendingErrorCount_U32"},
    {0x2011, 23, "DIA_StatisticCount_REC", "DIA_LykAsynErrorCount_U32"},
    {0x2011, 24, "DIA_StatisticCount_REC", "DIA_LykAsynBusyErrorCount_U32"},
    {0x2011, 25, "DIA_StatisticCount_REC", "DIA_LykAsynNoRxErrorCount_U32"},
    {0x2011, 26, "DIA_StatisticCount_REC", "DIA_LykAsynFormatErrorCount_U32"},
    {0x2011, 27, "DIA_StatisticCount_REC", "DIA_LykAsynPendingErrorCount_U32"},
    {0x2011, 28, "DIA_StatisticCount_REC", "DIA_LykModuleLostWhileOperational_U32"},
    {0x2011, 29, "DIA_StatisticCount_REC", "DIA_LykModuleNewWhileOperational_U32"},
    {0x2011, 30, "DIA_StatisticCount_REC", "DIA_LykModuleAsicStatOutput_U32"},
    {0x2011, 31, "DIA_StatisticCount_REC", "DIA_LykModuleAsicStatInput_U32"},
    {0x2011, 32, "DIA_StatisticCount_REC", "DIA_RamAccessViolation_U32"},
    {0x2011, 33, "DIA_StatisticCount_REC", "DIA_LykModuleAsicStatIoProc_U32"},
    {0x2012, 0, nullptr, "DIA_StatisticCount_ADOM"},
    {0x2012, 1, "DIA_StatisticCount_ADOM", "DIA_Counters_DOM"},
    {0x2012, 2, "DIA_StatisticCount_ADOM", "DIA_Eth_DOM"},
    {0x2012, 3, "DIA_StatisticCount_ADOM", "DIA_Lyk_DOM"},
    {0x2012, 4, "DIA_StatisticCount_ADOM", "DIA_Misc_DOM"},
    {0x2013, 0, nullptr, "DIA_ExceptionLog_ADOM"},
    {0x20A0, 0, nullptr, "MOD_CfgCount_U8"},
    {0x20A1, 0, nullptr, "MOD_SlotCount_U8"},
    {0x20A2, 0, nullptr, "MOD_ActCount_U8"},
    {0x20A3, 0, nullptr, "MOD_LastStation_U8"},
    {0x20B1, 0, nullptr, "IO_MultiScan_DOM"},
    {0x20F0, 0, nullptr, "BC_Internal_REC"},
    {0x20F0, 1, "BC_Internal_REC", "BC_BootFpgaVersion_U16"},
    {0x20F0, 2, "BC_Internal_REC", "BC_BootFirmwareVersion_U16"},
    {0x20F0, 3, "BC_Internal_REC", "BC_UpgradeFpgaVersion_U16"},
    {0x20F0, 4, "BC_Internal_REC", "BC_UpgradeFirmwareVersion_U16"},
    {0x20F0, 5, "BC_Internal_REC", "BC_UpgradeActive_U8"},
    {0x20F0, 6, "BC_Internal_REC", "BC_NodeNumber_U8"},
    {0x20F0, 7, "BC_Internal_REC", "BC_MemFree_U32"},
    {0x20F0, 8, "BC_Internal_REC", "BC_FeatureControl_DOM"},
    {0x20F0, 9, "BC_Internal_REC", "BC_LedTest_U8"},
    {0x20F0, 10, "BC_Internal_REC", "BC_CntNvmStore_U16"},
    {0x20F0, 11, "BC_Internal_REC", "BC_CntNvmInconsistent_U16"},
    {0x20F0, 12, "BC_Internal_REC", "BC_CntNvmVersionChange_U16"},
    {0x20F0, 13, "BC_Internal_REC", "BC_CntNvmReload_U16"},
    {0x20F0, 14, "BC_Internal_REC", "BC_IoCycleCount_U8"},
    {0x20F0, 15, "BC_Internal_REC", "BC_MsTime_U32"},
    {0x20F0, 16, "BC_Internal_REC", "BC_SyncPresetUs_U16"},
    {0x20F0, 17, "BC_Internal_REC", "BC_PhysicalPorts_U8"},
    {0x20F0, 18, "BC_Internal_REC", "BC_PhysicalLink_U8"},
    {0x20F0, 19, "BC_Internal_REC", "BC_SupportedSdoProtocols_U8"},
    {0x20F0, 20, "BC_Internal_REC", "BC_LineSpeed_U16"},
    {0x20F0, 21, "BC_Internal_REC", "BC_UserDataWriteEnable_U32"},
    {0x20F0, 22, "BC_Internal_REC", "BC_UserData_DOM"},
    {0x20F0, 23, "BC_Internal_REC", "BC_UserDataCountdown_U16"},
    {0x20F0, 24, "BC_Internal_REC", "BC_RedundancyNetworkFlags_U8"},
    {0x20F0, 25, "BC_Internal_REC", "BC_RedundancyNetworkIndex_U8"},
    {0x20F0, 26, "BC_Internal_REC", "BC_RedundancyTxMode_U8"},
    {0x20F0, 27, "BC_Internal_REC", "BC_ZelmarVendorId_U32"},
    {0x20F0, 28, "BC_Internal_REC", "BC_PhyExist_U32"},
    {0x20F0, 29, "BC_Internal_REC", "BC_PhyLinked_U32"},
    {0x20F0, 30, "BC_Internal_REC", "BC_FreeConfigEntries_U16"},
    {0x20F0, 31, "BC_Internal_REC", "BC_21FF_ResponseLen"},
    {0x20F0, 32, "BC_Internal_REC", "BC_IoInputNettimeUs_U32"},
    {0x20F0, 33, "BC_Internal_REC", "BC_IoCycleDisplacementUs_U32"},
    {0x20F8, 0, nullptr, "DUMMY_MapObjects_AU8"},
    {0x20F8, 1, nullptr, "DUMMY_MapObjects_AU8[1]"},
    {0x20F8, 2, nullptr, "DUMMY_MapObjects_AU8[2]"},
    {0x20F8, 3, nullptr, "DUMMY_MapObjects_AU8[3]"},
    {0x20F8, 4, nullptr, "DUMMY_MapObjects_AU8[4]"},
    {0x20F8, 5, nullptr, "DUMMY_MapObjects_AU8[5]"},
    {0x20F8, 6, nullptr, "DUMMY_MapObjects_AU8[6]"},
    {0x20F8, 7, nullptr, "DUMMY_MapObjects_AU8[7]"},
    {0x20F8, 8, nullptr, "DUMMY_MapObjects_AU8[8]"},
    {0x20FF, 0, nullptr, "DUMMY_ProtocolTest_REC"},
    {0x20FF, 1, "DUMMY_ProtocolTest_REC", "DUMMY_DomainUploadLen_U32"},
    {0x20FF, 2, "DUMMY_ProtocolTest_REC", "DUMMY_Upload_DOM"},
    {0x20FF, 3, "DUMMY_ProtocolTest_REC", "DUMMY_DomainDownloadLen_U32"},
    {0x20FF, 4, "DUMMY_ProtocolTest_REC", "DUMMY_Download_DOM"},
    {0x20FF, 5, "DUMMY_ProtocolTest_REC", "DUMMY_AccessDelayTimeMs_U32"},
    {0x20FF, 6, "DUMMY_ProtocolTest_REC", "DUMMY_AccessDelayData_U32"},
};

const size_t od_standard_names_size = sizeof(od_standard_names) / sizeof(od_standard_names[0]);
const size_t od_maker_names_size = sizeof(od_maker_names) / sizeof(od_maker_names[0]);

namespace {

constexpr size_t NAME_BUFFER_SIZE = 200;
char name_buffer[NAME_BUFFER_SIZE];

const char *empty_name() { return ""; }

const char *format_name(const char *format, ...) __attribute__((format(printf, 1, 2)));
const char *format_name(const char *format, ...) {
    va_list args;
    va_start(args, format);
    vsnprintf(name_buffer, sizeof name_buffer, format, args);
    va_end(args);
    return name_buffer;
}

const od_name_entry *find_entry(const od_name_entry *table, size_t size, uint16_t index, uint8_t sub) {
    size_t low = 0, high = size;
    const uint32_t key = (uint32_t(index) << 8) | sub;
    while (low < high) {
        const size_t mid = low + (high - low) / 2;
        const uint32_t mid_key = (uint32_t(table[mid].index) << 8) | table[mid].sub_index;
        if (mid_key == key) return &table[mid];
        if (mid_key < key)
            low = mid + 1;
        else
            high = mid;
    }
    return nullptr;
}

const char *entry_text(const od_name_entry *entry) {
    if (entry->record != nullptr) return format_name(" %s / %s", entry->record, entry->name);
    return format_name(" %s", entry->name);
}

// Members of the interface-slot records 0x20C0..0x20DF.
const char *interface_slot_member(uint8_t sub) {
    switch (sub) {
    case 5: return "IF_RequestedHardwareId_U16";
    case 6: return "IF_RequestedVendorId_U16";
    case 7: return "IF_HardwareId_U16";
    case 8: return "IF_VendorId_U16";
    case 17: return "IF_FirmwareVersion_U16";
    case 18: return "IF_HardwareVariant_U16";
    case 19: return "IF_SerialNo_U32";
    case 25: return "IF_ClassCode_U32";
    case 31: return "IF_InputImage_DOM";
    case 32: return "IF_OutputImage_DOM";
    case 35: return "IF_Firmware_DOM";
    case 40: return "MOD_OutputImage_AUX1_DOM";
    case 41: return "MOD_OutputImage_AUX2_DOM";
    case 42: return "MOD_OutputImage_AUX3_DOM";
    case 43: return "MOD_OutputImage_AUX4_DOM";
    default: return "reserved";
    }
}

// Members of the module configuration records 0x2100..0x21FF (sub-index 1..93).
const char *module_config_member(uint8_t sub) {
    // clang-format off
    static const char *const members[94] = {
        nullptr,
        "MOD_ChildCfgIndex_U16", "MOD_ChildCfgCount_U8", "MOD_ChildActCount_U8", "MOD_CfgMode_U8",
        "MOD_RequestedHardwareId_U16", "MOD_RequestedVendorId_U16", "MOD_HardwareId_U16", "MOD_VendorId_U16",
        "MOD_InterfaceFlags_U8", "MOD_Status_U16", "MOD_NetworkStatus_U8", "MOD_BlockMask_U8",
        "MOD_BootCount_U8", "MOD_LastError_U8", "MOD_MaxAsyncLenBS_U8", "MOD_MaxAsyncLenFW_U8",
        "MOD_FirmwareVersion_U16", "MOD_HardwareVariant_U16", "MOD_SerialNo_U32", "MOD_PhysicalSlotNumber_U8",
        "MOD_NodeSwitch_U8", "MOD_RequestedSerialNo_U32", "MOD_ModuleErrorReaction_U8", nullptr,
        nullptr, "MOD_AsicDiagnoseCount_U32", "MOD_AsicDiagnoseId_U8", nullptr,
        nullptr, "MOD_InputImage1_DOM", "MOD_InputImage2_DOM", "MOD_OutputImage_DOM",
        "MOD_AsyncRead_U64", "MOD_AsyncWrite_U64", "MOD_Firmware_DOM", "MOD_RegConfig_U32",
        "MOD_StreamChannel_U8", "MOD_StreamControl_U32", "MOD_StreamData_DOM",
        // 40..49 unnamed
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        "MOD_FirmwareChannel_U16",  // 50
        // 51..89 unnamed
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        "MOD_CfgFunctionMode_U8", "MOD_CfgEntryCount_U8", "MOD_SyncOutSize_U8", "MOD_SyncInSize_U8",  // 90..93
    };
    // clang-format on
    static_assert(sizeof(members) / sizeof(members[0]) == 94, "sub-indices 0..93");
    return sub < 94 ? members[sub] : nullptr;
}

const char *interface_slot_name(uint16_t index, uint8_t sub) {
    char record[64];
    snprintf(record, sizeof record, " IF_SlotConfig_%d_IF%d_REC", ((index >> 3) & 3) + 1, (index & 7) + 1);
    if (sub == 0) return format_name("%s", record);
    return format_name("%s / %s", record, interface_slot_member(sub));
}

const char *module_config_name(uint16_t index, uint8_t sub) {
    char record[64];
    if (index == 0x21FF)
        snprintf(record, sizeof record, " MOD_Config_XXh_REC");
    else
        snprintf(record, sizeof record, " MOD_Config_%02Xh_REC", index & 0xFF);
    if (sub >= 100) return format_name("%s / MOD_CfgEntry_%03d_U64", record, sub - 100);
    const char *member = module_config_member(sub);
    if (member != nullptr) return format_name("%s / %s", record, member);
    return format_name("%s", record);
}

// Objects 0x3000..0x9FFF of a node with interface slots map the objects of
// the modules in its slots: the thousands digit selects the slot, bit 11 the
// interface.
const char *slot_object_name(uint16_t index, uint8_t sub) {
    const unsigned block = index >> 12;
    if (block == 6) return empty_name();
    int slot;
    unsigned object = index;
    if (block == 3 || block == 7) {
        slot = 1;
        object -= 0x1000;
    } else if (block == 4 || block == 8) {
        slot = 2;
        object -= 0x2000;
    } else {
        slot = 3;
        object -= 0x3000;
    }
    int interface = 1;
    if (object & 0x0800) {
        interface = 2;
        object &= ~0x0800u;
    }
    return format_name(" PCI_Slot_%d_IF%d (Object 0x%04X/%d)", slot, interface, object, sub);
}

// Manufacturer objects of a maker bus controller; NULL when not one of them.
const char *maker_name(bool slot_names, uint16_t index, uint8_t sub) {
    if (const od_name_entry *entry = find_entry(od_maker_names, od_maker_names_size, index, sub))
        return entry_text(entry);
    if (index == 0x2013) return format_name(" DIA_ExceptionLog_DOM[..]");
    if (index == 0x20B0) return format_name(" MOD_NetworkStatus_AU64[..]");
    if (index >= 0x20C0 && index <= 0x20DF) return interface_slot_name(index, sub);
    if (index >= 0x2100 && index <= 0x21FF) return module_config_name(index, sub);
    if (index >= 0x3000 && index <= 0x9FFF && slot_names) return slot_object_name(index, sub);
    return nullptr;
}

const char *pdo_parameter_name(const char *record, uint8_t sub, bool communication) {
    if (sub == 0) return format_name(" %s / NumberOfEntries", record);
    if (!communication) return format_name(" %s / ObjectMapping", record);
    if (sub == 1) return format_name(" %s / NodeID_U8", record);
    if (sub == 2) return format_name(" %s / MappingVersion_U8", record);
    return format_name(" %s / ??", record);
}

const char *standard_name(bool maker_names, uint16_t index, uint8_t sub) {
    if (const od_name_entry *entry = find_entry(od_standard_names, od_standard_names_size, index, sub))
        return entry_text(entry);
    switch (index) {
    case 0x1003: return format_name(" ERR_History_ADOM[..]");
    case 0x1016: return format_name(" NMT_ConsumerHeartbeatTime_AU32[..]");
    case 0x1F81: return format_name(" CNAssignment[..]");
    case 0x1F8D: return format_name(" PResPayload[..]");
    case 0x1F9B: return format_name(" NMT_MultiplCycleAssign_AU8[..]");
    default: break;
    }
    if (index >= 0x1400 && index <= 0x140F) return pdo_parameter_name("PDO_RxCommParam", sub, true);
    if (index >= 0x1600 && index <= 0x160F) return pdo_parameter_name("PDO_RxMappParam", sub, false);
    if (index >= 0x1800 && index <= 0x180F) return pdo_parameter_name("PDO_TxCommParam", sub, true);
    if (index >= 0x1A00 && index <= 0x1A0F) return pdo_parameter_name("PDO_TxMappParam", sub, false);
    return maker_names ? format_name(" ?? ") : empty_name();
}

}  // namespace

const char *od_object_name_flags(bool maker_names, bool slot_names, uint16_t index, uint8_t sub_index) {
    if (maker_names) {
        if (const char *name = maker_name(slot_names, index, sub_index)) return name;
    }
    return standard_name(maker_names, index, sub_index);
}

const char *od_object_name(const flowlens_node *node, uint16_t index, uint8_t sub_index) {
    if (node == nullptr) return od_object_name_flags(false, false, index, sub_index);
    return od_object_name_flags(node->object_names_maker != 0, node->object_names_slots != 0, index, sub_index);
}

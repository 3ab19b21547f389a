#include "nmt_names.h"

const char *nmt_command_name(uint8_t command) {
    switch (command) {
    case 0x21: return "NMTStartNode";
    case 0x22: return "NMTStopNode";
    case 0x23: return "NMTEnterPreOperational2";
    case 0x24: return "NMTEnableReadyToOperate";
    case 0x28: return "NMTResetNode";
    case 0x29: return "NMTResetCommunication";
    case 0x2A: return "NMTResetConfiguration";
    case 0x2B: return "NMTSoftwareReset";
    case 0x2C: return "NMTGoToStandby";
    case 0x2D: return "NMTDna";
    case 0x41: return "NMTStartNodeEx";
    case 0x42: return "NMTStopNodeEx";
    case 0x43: return "NMTEnterPreOperational2Ex";
    case 0x44: return "NMTEnableReadyToOperateEx";
    case 0x48: return "NMTResetNodeEx";
    case 0x49: return "NMTResetCommunicationEx";
    case 0x4A: return "NMTResetConfigurationEx";
    case 0x4B: return "NMTSoftwareResetEx";
    case 0x4C: return "NMTGoToStandbyEx";
    case 0xFF: return "NMTInvalidService";
    default: return nullptr;
    }
}

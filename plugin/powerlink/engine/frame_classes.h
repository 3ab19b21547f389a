// Frame classes of the flowlens engine: the 64-bit set of one frame, as the
// classification and the SDO tracking answer it and as every network keeps
// it for its previous frame.
#pragma once

#include <cstdint>

// ---------------------------------------------------------------------------
// Frame classes (64-bit set, one per frame; kept per network for the previous frame)
// ---------------------------------------------------------------------------

typedef uint64_t frame_class;

#define FLOWLENS_BIT(n) (uint64_t(1) << (n))
enum : uint64_t {
    FLOWLENS_CLASS_SOC_LOSS = FLOWLENS_BIT(0),  // a SoC loss was detected on this frame
    FLOWLENS_CLASS_SOA_LOSS = FLOWLENS_BIT(3),  // "Loss of SoA" reported on this frame
    FLOWLENS_CLASS_SOC_MAC_CHANGED = FLOWLENS_BIT(9),
    FLOWLENS_CLASS_SDO = FLOWLENS_BIT(10),         // ASnd service 5
    FLOWLENS_CLASS_SDO_ABORT = FLOWLENS_BIT(11),   // abort code in the classification result
    FLOWLENS_CLASS_ASYNC_OPEN = FLOWLENS_BIT(16),  // SoA or AInv
    FLOWLENS_CLASS_CYCLIC = FLOWLENS_BIT(17),      // SoC, PReq, PRes
    FLOWLENS_CLASS_ASND = FLOWLENS_BIT(18),
    FLOWLENS_CLASS_NOT_POWERLINK = FLOWLENS_BIT(19),
    FLOWLENS_CLASS_MISPLACED = FLOWLENS_BIT(20),
    FLOWLENS_CLASS_AINV = FLOWLENS_BIT(21),
    FLOWLENS_CLASS_IDENT_RESPONSE = FLOWLENS_BIT(22),
    FLOWLENS_CLASS_STATUS_RESPONSE = FLOWLENS_BIT(23),
    FLOWLENS_CLASS_ASND_SERVICE6 = FLOWLENS_BIT(24),
    FLOWLENS_CLASS_PREQ = FLOWLENS_BIT(33),
    FLOWLENS_CLASS_PRES = FLOWLENS_BIT(34),
    FLOWLENS_CLASS_SOA = FLOWLENS_BIT(35),
    FLOWLENS_CLASS_INVITATION = FLOWLENS_BIT(37),
    FLOWLENS_CLASS_INVITE_WITHOUT_REQUEST = FLOWLENS_BIT(38),
    FLOWLENS_CLASS_LANYX = FLOWLENS_BIT(40),          // Lanyx analyzer ASnd (service 161)
    FLOWLENS_CLASS_V1 = FLOWLENS_BIT(41),             // EtherType 0x3E3F
    FLOWLENS_CLASS_V2 = FLOWLENS_BIT(42),             // EtherType 0x88AB
    FLOWLENS_CLASS_REDUCED_CYCLE = FLOWLENS_BIT(43),  // SoA with MN in PRE_OPERATIONAL_1
    FLOWLENS_CLASS_INVALID_NMT_STATE = FLOWLENS_BIT(44),
    FLOWLENS_CLASS_FLS_SLS_CHANGED = FLOWLENS_BIT(45),
    FLOWLENS_CLASS_CRC_ERROR = FLOWLENS_BIT(50),
    FLOWLENS_CLASS_NOISE_ERROR = FLOWLENS_BIT(51),
    FLOWLENS_CLASS_SHORT_FRAME = FLOWLENS_BIT(52),
    FLOWLENS_CLASS_OVERSIZE = FLOWLENS_BIT(53),
    FLOWLENS_CLASS_DUMP_LOST = FLOWLENS_BIT(54),    // analyzer dump frames lost
    FLOWLENS_CLASS_DUMP_FORMAT = FLOWLENS_BIT(57),  // analyzer dump with trigger or format error
};

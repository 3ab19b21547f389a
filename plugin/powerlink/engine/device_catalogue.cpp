#include "device_catalogue.h"

// Product codes are grouped by product line in the high byte:
// 0x01 bus controllers, 0x02 I/O modules, 0x03 drives, 0x04 safety,
// 0x05 panels, 0x06 machine controllers, 0x07 gateways, 0x08 network
// infrastructure, 0x09 analyzers, 0x0A process modules.
const device_catalogue_row device_catalogue[] = {
    {maker_vendor_id, 0x0101, "Zelmar ZBC-2100 Bus Controller", DEVICE_CAPABILITY_BUS_CONTROLLER},
    {maker_vendor_id, 0x0102, "Zelmar ZBC-2100-R Bus Controller (redundant)", DEVICE_CAPABILITY_BUS_CONTROLLER},
    {maker_vendor_id, 0x0103, "Zelmar ZBC-2110 Bus Controller 2-port", DEVICE_CAPABILITY_BUS_CONTROLLER},
    {maker_vendor_id, 0x0104, "Zelmar ZBC-2120 Bus Controller 3-port hub", DEVICE_CAPABILITY_BUS_CONTROLLER},
    {maker_vendor_id, 0x0105, "Zelmar ZBC-2200 Bus Controller XT", DEVICE_CAPABILITY_BUS_CONTROLLER},
    {maker_vendor_id, 0x0106, "Zelmar ZBC-2200-C Bus Controller XT coated", DEVICE_CAPABILITY_BUS_CONTROLLER},
    {maker_vendor_id, 0x0107, "Zelmar ZBC-2300 Bus Controller fiber", DEVICE_CAPABILITY_BUS_CONTROLLER},
    {maker_vendor_id, 0x0108, "Zelmar ZBC-2310 Bus Controller fiber 2-port", DEVICE_CAPABILITY_BUS_CONTROLLER},
    {maker_vendor_id, 0x0109, "Zelmar ZBC-2400 Compact Bus Controller", DEVICE_CAPABILITY_BUS_CONTROLLER},
    {maker_vendor_id, 0x010A, "Zelmar ZBC-2410 Compact Bus Controller IP67", DEVICE_CAPABILITY_BUS_CONTROLLER},
    {maker_vendor_id, 0x010B, "Zelmar ZBC-2500 Bus Controller with safety link", DEVICE_CAPABILITY_BUS_CONTROLLER},
    {maker_vendor_id, 0x010C, "Zelmar ZBC-2600 Lanyx Bus Controller", DEVICE_CAPABILITY_BUS_CONTROLLER},
    {maker_vendor_id, 0x010D, "Zelmar ZBC-2610 Lanyx Bus Controller 2-port", DEVICE_CAPABILITY_BUS_CONTROLLER},
    {maker_vendor_id, 0x0180, "Zelmar ZBC-2900 Modular Bus Controller (2 IF slots)",
     DEVICE_CAPABILITY_BUS_CONTROLLER | DEVICE_CAPABILITY_INTERFACE_SLOTS},
    {maker_vendor_id, 0x0181, "Zelmar ZBC-2910 Modular Bus Controller XT (2 IF slots)",
     DEVICE_CAPABILITY_BUS_CONTROLLER | DEVICE_CAPABILITY_INTERFACE_SLOTS},
    {maker_vendor_id, 0x0200, "Zelmar ZX-IO 4DI", 0},
    {maker_vendor_id, 0x0201, "Zelmar ZX-IO 8DI", 0},
    {maker_vendor_id, 0x0202, "Zelmar ZX-IO 16DI", 0},
    {maker_vendor_id, 0x0203, "Zelmar ZX-IO 32DI", 0},
    {maker_vendor_id, 0x0204, "Zelmar ZX-IO 4DO", 0},
    {maker_vendor_id, 0x0205, "Zelmar ZX-IO 8DO", 0},
    {maker_vendor_id, 0x0206, "Zelmar ZX-IO 16DO", 0},
    {maker_vendor_id, 0x0207, "Zelmar ZX-IO 32DO", 0},
    {maker_vendor_id, 0x0208, "Zelmar ZX-IO 8DI/8DO", 0},
    {maker_vendor_id, 0x0209, "Zelmar ZX-IO 16DI/16DO", 0},
    {maker_vendor_id, 0x020A, "Zelmar ZX-IO 4DO relay", 0},
    {maker_vendor_id, 0x020B, "Zelmar ZX-IO 8DO relay", 0},
    {maker_vendor_id, 0x020C, "Zelmar ZX-IO 4AI U", 0},
    {maker_vendor_id, 0x020D, "Zelmar ZX-IO 4AI I", 0},
    {maker_vendor_id, 0x020E, "Zelmar ZX-IO 8AI U", 0},
    {maker_vendor_id, 0x020F, "Zelmar ZX-IO 8AI I", 0},
    {maker_vendor_id, 0x0210, "Zelmar ZX-IO 4AO U", 0},
    {maker_vendor_id, 0x0211, "Zelmar ZX-IO 4AO I", 0},
    {maker_vendor_id, 0x0212, "Zelmar ZX-IO 2AI RTD", 0},
    {maker_vendor_id, 0x0213, "Zelmar ZX-IO 4AI TC", 0},
    {maker_vendor_id, 0x0214, "Zelmar ZX-IO 2 counter", 0},
    {maker_vendor_id, 0x0215, "Zelmar ZX-IO 4 counter", 0},
    {maker_vendor_id, 0x0216, "Zelmar ZX-IO SSI encoder", 0},
    {maker_vendor_id, 0x0217, "Zelmar ZX-IO 2 PWM", 0},
    {maker_vendor_id, 0x0218, "Zelmar ZX-IO stepper 1A", 0},
    {maker_vendor_id, 0x0240, "Zelmar ZX-IO 16DI IP67", 0},
    {maker_vendor_id, 0x0241, "Zelmar ZX-IO 16DO IP67", 0},
    {maker_vendor_id, 0x0242, "Zelmar ZX-IO 8DI/8DO IP67", 0},
    {maker_vendor_id, 0x0243, "Zelmar ZX-IO 4AI IP67", 0},
    {maker_vendor_id, 0x0244, "Zelmar ZX-IO 4AO IP67", 0},
    {maker_vendor_id, 0x0245, "Zelmar ZX-IO IO-Link master 4-port", 0},
    {maker_vendor_id, 0x0246, "Zelmar ZX-IO IO-Link master 8-port", 0},
    {maker_vendor_id, 0x0247, "Zelmar ZX-IO 8DI 24VDC fast", 0},
    {maker_vendor_id, 0x0300, "Zelmar Sentra Drive SD-1 0.4 kW", 0},
    {maker_vendor_id, 0x0301, "Zelmar Sentra Drive SD-1 0.75 kW", 0},
    {maker_vendor_id, 0x0302, "Zelmar Sentra Drive SD-1 1.5 kW", 0},
    {maker_vendor_id, 0x0303, "Zelmar Sentra Drive SD-2 2.2 kW", 0},
    {maker_vendor_id, 0x0304, "Zelmar Sentra Drive SD-2 4 kW", 0},
    {maker_vendor_id, 0x0305, "Zelmar Sentra Drive SD-2 7.5 kW", 0},
    {maker_vendor_id, 0x0306, "Zelmar Sentra Drive SD-3 11 kW", 0},
    {maker_vendor_id, 0x0307, "Zelmar Sentra Drive SD-3 15 kW", 0},
    {maker_vendor_id, 0x0308, "Zelmar Sentra Drive SD-3 22 kW", 0},
    {maker_vendor_id, 0x0309, "Zelmar Sentra Drive SD-M dual axis 2x1 kW", 0},
    {maker_vendor_id, 0x030A, "Zelmar Sentra Drive SD-M dual axis 2x3 kW", 0},
    {maker_vendor_id, 0x030B, "Zelmar Sentra Drive SD-S servo 0.2 kW", 0},
    {maker_vendor_id, 0x030C, "Zelmar Sentra Drive SD-S servo 0.75 kW", 0},
    {maker_vendor_id, 0x030D, "Zelmar Sentra Drive SD-S servo 2 kW", 0},
    {maker_vendor_id, 0x0400, "Zelmar ZX-Safe 8SDI", 0},
    {maker_vendor_id, 0x0401, "Zelmar ZX-Safe 4SDO", 0},
    {maker_vendor_id, 0x0402, "Zelmar ZX-Safe 2 relay", 0},
    {maker_vendor_id, 0x0403, "Zelmar ZX-Safe logic controller", 0},
    {maker_vendor_id, 0x0404, "Zelmar ZX-Safe light curtain interface", 0},
    {maker_vendor_id, 0x0405, "Zelmar ZX-Safe speed monitor", 0},
    {maker_vendor_id, 0x0406, "Zelmar ZX-Safe 4SDI/4SDO", 0},
    {maker_vendor_id, 0x0500, "Zelmar ZP-7 panel 7in", 0},
    {maker_vendor_id, 0x0501, "Zelmar ZP-10 panel 10in", 0},
    {maker_vendor_id, 0x0502, "Zelmar ZP-15 panel 15in", 0},
    {maker_vendor_id, 0x0503, "Zelmar ZP-21 panel 21in", 0},
    {maker_vendor_id, 0x0504, "Zelmar ZPC-510 panel PC", 0},
    {maker_vendor_id, 0x0505, "Zelmar ZPC-710 panel PC", 0},
    {maker_vendor_id, 0x0600, "Zelmar ZMC-100 machine controller", 0},
    {maker_vendor_id, 0x0601, "Zelmar ZMC-200 machine controller", 0},
    {maker_vendor_id, 0x0602, "Zelmar ZMC-300 machine controller", 0},
    {maker_vendor_id, 0x0603, "Zelmar ZMC-300-R machine controller (redundant)", 0},
    {maker_vendor_id, 0x0700, "Zelmar ZG-PN PROFINET gateway", 0},
    {maker_vendor_id, 0x0701, "Zelmar ZG-EIP EtherNet/IP gateway", 0},
    {maker_vendor_id, 0x0702, "Zelmar ZG-MB Modbus/TCP gateway", 0},
    {maker_vendor_id, 0x0703, "Zelmar ZG-CAN CAN gateway", 0},
    {maker_vendor_id, 0x0704, "Zelmar ZG-SER serial gateway", 0},
    {maker_vendor_id, 0x0705, "Zelmar ZG-OPC OPC UA gateway", 0},
    {maker_vendor_id, 0x0800, "Zelmar ZH-5 hub 5-port", 0},
    {maker_vendor_id, 0x0801, "Zelmar ZH-8 hub 8-port", 0},
    {maker_vendor_id, 0x0802, "Zelmar ZH-5F hub fiber", 0},
    {maker_vendor_id, 0x0803, "Zelmar ZR-2 ring redundancy switch", 0},
    {maker_vendor_id, 0x0804, "Zelmar ZX-REP repeater", 0},
    {maker_vendor_id, 0x0900, "Zelmar Q40TA5521 network analyzer", 0},
    {maker_vendor_id, 0x0901, "Zelmar Q40TA5522 network analyzer 4-port", 0},
    {maker_vendor_id, 0x0A00, "Zelmar ZV-4 valve terminal 4", 0},
    {maker_vendor_id, 0x0A01, "Zelmar ZV-8 valve terminal 8", 0},
    {maker_vendor_id, 0x0A02, "Zelmar ZV-16 valve terminal 16", 0},
    {maker_vendor_id, 0x0A03, "Zelmar ZS-1 weighing module", 0},
    {maker_vendor_id, 0x0A04, "Zelmar ZS-2 weighing module dual", 0},
    {maker_vendor_id, 0x0A05, "Zelmar ZE-1 temperature controller 4-zone", 0},
    {maker_vendor_id, 0x0A06, "Zelmar ZE-2 temperature controller 8-zone", 0},
    {0, 0, nullptr, 0},
};

size_t device_catalogue_size() {
    size_t n = 0;
    while (device_catalogue[n].vendor_id != 0) ++n;
    return n;
}

const device_catalogue_row *device_catalogue_find(uint32_t vendor_id, uint32_t product_code) {
    if (vendor_id == 0 || product_code > 0xFFFFu) return nullptr;
    for (const device_catalogue_row *row = device_catalogue; row->vendor_id != 0; ++row) {
        if (row->vendor_id == vendor_id && row->product_code == product_code) return row;
    }
    return nullptr;
}

bool mac_is_maker(const uint8_t *mac) {
    return mac != nullptr && mac[0] == ((maker_oui >> 16) & 0xFF) && mac[1] == ((maker_oui >> 8) & 0xFF) &&
           mac[2] == (maker_oui & 0xFF);
}

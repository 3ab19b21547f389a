// The maker's device catalogue: POWERLINK identities of Zelmar products, with
// model names for the frame texts and the capabilities that decide which
// manufacturer-specific objects get names.
#pragma once

#include <cstddef>
#include <cstdint>

// Zelmar's POWERLINK vendor id ("ZELM").
constexpr uint32_t maker_vendor_id = 0x5A454C4Du;
// Zelmar's MAC prefix: 02:D7:A5 (locally administered, so never a real vendor's OUI).
constexpr uint32_t maker_oui = 0x02D7A5u;

// Capability bits of a catalogue row.
enum : uint32_t {
    DEVICE_CAPABILITY_BUS_CONTROLLER = 1u << 1,   // manufacturer-specific objects get names
    DEVICE_CAPABILITY_INTERFACE_SLOTS = 1u << 2,  // interface-slot objects get names
};

struct device_catalogue_row {
    uint32_t vendor_id;  // 0 ends the catalogue
    uint16_t product_code;
    const char *model_name;
    uint32_t capabilities;
};

// Every row, ended by a row with vendor id 0.
extern const device_catalogue_row device_catalogue[];
// Rows before the end row.
size_t device_catalogue_size();

// First row whose vendor id and product code match; NULL when none does.
// The product code of an IdentResponse is 32-bit: a value above 0xFFFF is
// never one of ours.
const device_catalogue_row *device_catalogue_find(uint32_t vendor_id, uint32_t product_code);

// True when the MAC address starts with the maker's prefix.
bool mac_is_maker(const uint8_t *mac);

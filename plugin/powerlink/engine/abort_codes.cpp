#include "abort_codes.h"

const abort_code_entry abort_code_table[] = {
    {0x05030000u, "'reserved'"},
    {0x05040000u, "'SDO protocol timed out'"},
    {0x05040001u, "'Client/server Command ID not valid or unknown'"},
    {0x05040002u, "'Invalid block size'"},
    {0x05040003u, "'Invalid sequence number'"},
    {0x05040004u, "'reserved'"},
    {0x05040005u, "'Out of memory'"},
    {0x06010000u, "'Unsupported access to an object'"},
    {0x06010001u, "'Attempt to read a write-only object'"},
    {0x06010002u, "'Attempt to write a read-only object'"},
    {0x06020000u, "'Object does not exist in the object dictionary'"},
    {0x06040041u, "'Object cannot be mapped to the PDO'"},
    {0x06040042u, "'The number and length of the objects to be mapped would exceed PDO length'"},
    {0x06040043u, "'General parameter incompatibility'"},
    {0x06040044u, "'Invalid heartbeat declaration'"},
    {0x06040047u, "'General internal incompatibility in the device'"},
    {0x06060000u, "'Access failed due to an hardware error'"},
    {0x06070010u, "'Data type does not match, length of service parameter does not match'"},
    {0x06070012u, "'Data type does not match, length of service parameter too high'"},
    {0x06070013u, "'Data type does not match, length of service parameter too low'"},
    {0x06090011u, "'Sub-index does not exist'"},
    {0x06090030u, "'Value range of parameter exceeded (only for write access)'"},
    {0x06090031u, "'Value of parameter written too high'"},
    {0x06090032u, "'Value of parameter written too low'"},
    {0x06090036u, "'Maximum value is less than minimum value'"},
    {0x08000000u, "'General error'"},
    {0x08000020u, "'Data cannot be transferred or stored to the application'"},
    {0x08000021u, "'Data cannot be transferred or stored to the application because of local control'"},
    {0x08000022u, "'Data cannot be transferred or stored to the application because of the present device state'"},
    {0x08000023u,
     "'Object dictionary dynamic generation fails or no object dictionary is present (e.g. object "
     "dictionary is generated from file and generation fails because of a file error)'"},
    {0x08000024u, "'EDS, DCF or Concise DCF Data set empty'"},
};

const size_t abort_code_table_size = sizeof(abort_code_table) / sizeof(abort_code_table[0]);

const char *abort_code_text(uint32_t code) {
    // 31 entries: a linear walk is cheaper than anything cleverer.
    for (size_t i = 0; i < abort_code_table_size; ++i) {
        if (abort_code_table[i].code == code) return abort_code_table[i].text;
    }
    return "'see Powerlink Specification'";
}

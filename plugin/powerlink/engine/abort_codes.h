// SDO abort codes (EPSG DS 301) and their display texts.
#pragma once

#include <cstddef>
#include <cstdint>

struct abort_code_entry {
    uint32_t code;
    const char *text;  // shown as is, single quotes included
};

// The named abort codes, in ascending code order.
extern const abort_code_entry abort_code_table[];
extern const size_t abort_code_table_size;

// Text of an abort code: "'...'" from the table, or the quoted pointer to the
// POWERLINK standard's abort code list for a code the table does not know.
// Never NULL.
const char *abort_code_text(uint32_t code);

// Object-dictionary names for the SDO texts: the standard POWERLINK objects
// for every node, and for the maker's bus controllers their manufacturer
// objects, interface-slot records, module configuration records and the
// objects of modules in interface slots.
#pragma once

#include <cstddef>
#include <cstdint>

struct flowlens_node;

// One named (index, sub-index). With a record name the text is
// " <record> / <name>", else " <name>".
struct od_name_entry {
    uint16_t index;
    uint8_t sub_index;
    const char *record;
    const char *name;
};

// Both lists are sorted by (index, sub-index).
extern const od_name_entry od_standard_names[];
extern const size_t od_standard_names_size;
extern const od_name_entry od_maker_names[];  // only for nodes with the maker object-name flag
extern const size_t od_maker_names_size;

// Name of object index/sub_index of node (which may be NULL): a text that
// begins with a blank, or "" when the object has no name. The text lives in
// one process-wide buffer and is valid until the next call.
const char *od_object_name(const flowlens_node *node, uint16_t index, uint8_t sub_index);

// The same for a node described only by its two object-name flags.
const char *od_object_name_flags(bool maker_names, bool slot_names, uint16_t index, uint8_t sub_index);

// What differs between the Wireshark releases the plug-in is built against
// (4.0 with Qt 5, 4.2 and 4.4 with Qt 6), in one place so the rest of the code
// reads the same for all of them.
//
// Callback return types follow the host's own typedefs (4.0 declares them
// gboolean, later releases bool), so a callback written with these aliases
// matches whatever the installed headers expect. Features that exist only in
// some releases are keyed to ws_version.h or to the host's own macros.
#pragma once

#include <epan/packet.h>
#include <wiretap/wtap_opttypes.h>
#include <ws_version.h>

#include <type_traits>

#define ZEL_WIRESHARK_AT_LEAST(major, minor) \
    (WIRESHARK_VERSION_MAJOR > (major) || (WIRESHARK_VERSION_MAJOR == (major) && WIRESHARK_VERSION_MINOR >= (minor)))

// What a heuristic dissector returns: whether it claimed the frame.
using zel_heur_result = std::invoke_result_t<heur_dissector_t, tvbuff_t *, packet_info *, proto_tree *, void *>;

// What a wtap_block_foreach_option() callback returns: whether to go on.
using zel_option_walk_result =
    std::invoke_result_t<wtap_block_foreach_func, wtap_block_t, guint, wtap_opttype_e, wtap_optval_t *, void *>;

// 4.2 and later list a plug-in by the kinds it describes itself as
// ("dissector"); 4.0 has no such entry point.
#if __has_include(<wsutil/plugins.h>)
#include <wsutil/plugins.h>
#endif
#ifdef WS_PLUGIN_DESC_DISSECTOR
#define ZEL_HAVE_PLUGIN_DESCRIBE 1
#else
#define ZEL_HAVE_PLUGIN_DESCRIBE 0
#endif

// One byte of a tvb: 4.4 renamed the GLib-typed accessor (and deprecates the
// old name), older releases know only the old one.
inline uint8_t zel_tvb_get_uint8(tvbuff_t *tvb, const int offset) {
#if ZEL_WIRESHARK_AT_LEAST(4, 4)
    return tvb_get_uint8(tvb, offset);
#else
    return tvb_get_guint8(tvb, offset);
#endif
}

// A field's value: 4.0 keeps it inside the field_info, later releases point
// to it. (A template, so only the branch that fits the host is compiled.)
template <typename FieldInfo>
fvalue_t *zel_field_value(FieldInfo *fi) {
    if constexpr (std::is_pointer_v<decltype(fi->value)>)
        return fi->value;
    else
        return &fi->value;
}

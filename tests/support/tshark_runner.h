// Runs the host's tshark with the freshly built plug-in, the way a user
// would load it: from a plug-in folder named by WIRESHARK_PLUGIN_DIR. Run as
// root, tshark ignores that variable, so it then runs as "nobody" through
// setpriv; everything it reads lives in a world-readable temporary folder.
#pragma once

#include <string>
#include <vector>

#include "analyzer_frame_builder.h"

namespace zeltest {

struct Result {
    int status = -1;  // exit status, or -1 when tshark did not exit normally
    std::string out;
    std::string err;
};

class Tshark {
public:
    Tshark();
    ~Tshark();
    Tshark(const Tshark &) = delete;
    Tshark &operator=(const Tshark &) = delete;

    // Writes packets as <name>.pcapng into the temporary folder; returns the path.
    std::string write_capture(const std::string &name, const std::vector<zelbuild::Packet> &packets);
    // Copies a file into the temporary folder; returns the new path.
    std::string copy_in(const std::string &source, const std::string &name);
    const std::string &folder() const { return folder_; }

    // tshark with the given arguments (each quoted for the shell), loading
    // plug-ins from this folder's copy or from another plug-in folder.
    Result run(const std::vector<std::string> &args, const std::string &plugin_dir = "") const;
    // Any other program of the host (editcap, mergecap) under the same user,
    // or, with as_caller, as the user running the tests (to write the build).
    Result run_program(const std::string &program, const std::vector<std::string> &args, bool as_caller = false,
                       const std::string &plugin_dir = "") const;

private:
    std::string folder_;
};

// Packets of one ASnd payload each on Ethernet, 1 ms apart.
std::vector<zelbuild::Packet> asnd_packets(uint8_t service_id, const std::vector<zelbuild::Bytes> &payloads);

// Lines of text, without the line ends.
std::vector<std::string> lines(const std::string &text);
std::vector<std::string> split(const std::string &line, char separator);

// Rows of `tshark -r <capture> -T fields -e <field>...`, one per frame
// (after the display filter, if any), split at the tabs. Booleans read 1 and
// 0 (Wireshark 4.4 prints them True and False).
std::vector<std::vector<std::string>> field_rows(const Tshark &tshark, const std::string &capture,
                                                 const std::vector<std::string> &fields,
                                                 const std::string &filter = "");
// The field of a packet-list column of the type "Expert Info" titled `title`:
// Wireshark 4.0 names column fields by the column's title, 4.4 by its type.
std::string expert_column_field(const std::string &title);
// Numbers of the frames a display filter selects.
std::vector<int> matching_frames(const Tshark &tshark, const std::string &capture, const std::string &filter);
// True when one line of text holds every one of the pieces (PDML puts a
// field and its attributes on one line).
bool has_line_with(const std::string &text, const std::vector<std::string> &pieces);

// The tshark process shared by the tests of one test program.
Tshark &shared_tshark();

}  // namespace zeltest

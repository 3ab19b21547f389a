// A plain pcapng file of Ethernet frames with nanosecond timestamps: the form
// in which a NIC capture of the analyzer's dump frames reaches the replay.
#pragma once

#include <cstdint>
#include <cstdio>

namespace ta5521sim {

class PcapngFile {
public:
    PcapngFile() = default;
    ~PcapngFile();
    PcapngFile(const PcapngFile &) = delete;
    PcapngFile &operator=(const PcapngFile &) = delete;

    // Creates or truncates `path` and writes the section header and one
    // Ethernet interface description; false on failure.
    bool open(const char *path);
    bool writePacket(int64_t timeNs, const uint8_t *data, uint32_t length);
    // Flushes and closes; false when anything failed to reach the file.
    bool close();

private:
    bool put(const void *data, size_t length);
    FILE *file_ = nullptr;
    bool failed_ = false;
};

}  // namespace ta5521sim

#include "analyzer_link.h"

#include <pcap/pcap.h>

#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "control_channel.h"
#include "record_list.h"

namespace {

constexpr int kDeviceNameChars = 32;
constexpr int kDotCount = 16;
// After selection the analyzer may pause this long before "Waiting" shows.
constexpr std::time_t kSilenceSeconds = 2;
// Kernel buffer per card: a burst of dump frames must survive while the
// capture thread is busy with the previous ones. libpcap's default of 2 MiB
// holds under 100 ms of the analyzer's peak (about 23 MB/s); 16 MiB holds
// about 0.7 s, and only the selected card keeps its buffer after discovery.
// Until then every card has one: the capture buffer's sizing counts them.
constexpr int kKernelBufferBytes = 16 * 1024 * 1024;

struct NicEntry {
    RecordNode links;  // first member: the entry is reached through its node
    pcap_t *handle;
    char name[kNicDescriptionChars];
    char description[kNicDescriptionChars];
    int waitFd;  // readable when frames wait; -1 if the platform has none
    bool selected;
    bool closed;
};

NicEntry *entryOf(RecordNode *node) { return reinterpret_cast<NicEntry *>(node); }

void copyCut(char *field, size_t size, const char *text) { std::snprintf(field, size, "%s", text ? text : ""); }

}  // namespace

struct AnalyzerLink {
    pcap_if_t *devices;
    RecordList nics;
    NicEntry *selected;
    bool failed;  // no card left to listen on: the capture cannot go on
    char errorText[PCAP_ERRBUF_SIZE];
    std::time_t lastDumpTime;
    ControlChannel *control;
    uint8_t wantedNode;
    char deviceName[kDeviceNameChars];
    int32_t dotCounter;
};

namespace {

// Sends "<text> ................" with its last (counter mod 16) characters
// cut, so the dots grow by one with every message the status bar takes.
void sendAnimated(AnalyzerLink *link, const char *format) {
    char text[kMessageChars];
    const int length = std::snprintf(text, sizeof text, format, link->deviceName, link->wantedNode);
    if (length < 0) return;
    const int cut = static_cast<int>(static_cast<uint32_t>(link->dotCounter) & (kDotCount - 1));
    const int kept = (length < static_cast<int>(sizeof text) ? length : static_cast<int>(sizeof text) - 1) - cut;
    text[kept > 0 ? kept : 0] = '\0';
    if (sendStatus(link->control, kStatusBar, text) == 0) --link->dotCounter;
}

void closeNic(NicEntry *nic) {
    if (nic->closed) return;
    pcap_breakloop(nic->handle);
    pcap_close(nic->handle);
    nic->handle = nullptr;
    nic->closed = true;
}

// Opens one card the way pcap_open_live(name, 65536, promiscuous, 1 ms)
// does, with a larger kernel buffer. nullptr (error text filled) on failure.
pcap_t *openCard(const char *name, char *errorText) {
    pcap_t *handle = pcap_create(name, errorText);
    if (!handle) return nullptr;
    pcap_set_snaplen(handle, kAnalyzerSnapLength);
    pcap_set_promisc(handle, 1);
    pcap_set_timeout(handle, kAnalyzerReadTimeoutMs);
    pcap_set_buffer_size(handle, kKernelBufferBytes);
    const int status = pcap_activate(handle);
    if (status < 0) {
        copyCut(errorText, PCAP_ERRBUF_SIZE, status == PCAP_ERROR ? pcap_geterr(handle) : pcap_statustostr(status));
        pcap_close(handle);
        return nullptr;
    }
    // On Linux (TPACKET_V3) an idle card can block pcap_next_ex far beyond the
    // 1 ms read timeout: the kernel does not hand over an empty block. The
    // capture thread must keep polling Force Trigger and its stop flag, so the
    // card is read without blocking and the 1 ms wait is done here with poll().
    if (pcap_setnonblock(handle, 1, errorText) != 0) {
        pcap_close(handle);
        return nullptr;
    }
    return handle;
}

// Reads one frame, waiting at most the read timeout for it. 1 with a frame,
// 0 without, PCAP_ERROR when the card failed (it went away, for one).
int readFrame(NicEntry *nic, pcap_pkthdr **header, const u_char **data) {
    int result = pcap_next_ex(nic->handle, header, data);
    if (result != 0) return result;
    if (nic->waitFd >= 0) {
        struct pollfd waiting = {nic->waitFd, POLLIN, 0};
        if (poll(&waiting, 1, kAnalyzerReadTimeoutMs) <= 0) return 0;
    } else {
        usleep(kAnalyzerReadTimeoutMs * 1000);
    }
    return pcap_next_ex(nic->handle, header, data);
}

// A card that fails to deliver is closed and not read again; the error is
// logged. Answers whether any card is left open.
bool dropFailedCard(AnalyzerLink *link, NicEntry *nic) {
    char errorText[PCAP_ERRBUF_SIZE];
    copyCut(errorText, sizeof errorText, pcap_geterr(nic->handle));
    logMessagef(link->control, kLogWarning, "Pcap read failed!\n NIC: %s\n Pcap error information: %s",
                nic->description, errorText);
    closeNic(nic);
    if (analyzerLinkOpenNicCount(link) > 0) return true;
    link->failed = true;
    if (nic->selected) {
        sendStatusf(link->control, kStatusError,
                    "NIC %s of %s (%d) is no longer available; the capture ends.\n Pcap error information: %s",
                    nic->description, link->deviceName, link->wantedNode, errorText);
    } else {
        sendStatusf(link->control, kStatusError,
                    "No network card is left to search for %s (%d) on.\n Pcap error information: %s", link->deviceName,
                    link->wantedNode, errorText);
    }
    return false;
}

}  // namespace

AnalyzerLink *analyzerLinkCreate(ControlChannel *channel, uint8_t wantedNode, const char *deviceName) {
    AnalyzerLink *link = channel ? new (std::nothrow) AnalyzerLink() : nullptr;
    if (!link) {
        std::printf(" >>> Error <<< Access violation while initializing pcap interface.\n");
        std::fflush(stdout);
        return nullptr;
    }
    recordListInit(&link->nics);
    link->control = channel;
    link->wantedNode = wantedNode;
    copyCut(link->deviceName, sizeof link->deviceName, deviceName);

    // libpcap is linked the ordinary way here: if it were missing the program
    // would not have started, so there is no separate library lookup step.
    const char *version = pcap_lib_version();
    if (!version || pcap_findalldevs(&link->devices, link->errorText) != 0 || !link->devices) {
        sendStatusf(channel, kStatusError, "Pcap base initialization failed!\n Pcap error information: %s",
                    link->errorText);
        analyzerLinkClose(link);
        return nullptr;
    }
    logMessagef(channel, kLogInfo, "%s is used as LowLevel Driver Interface.", version);
    link->lastDumpTime = std::time(nullptr);
    return link;
}

int analyzerLinkOpenAll(AnalyzerLink *link) {
    if (!link || !link->devices) return -1;
    char firstError[PCAP_ERRBUF_SIZE] = "";
    for (pcap_if_t *device = link->devices; device; device = device->next) {
        // The description names the card in messages; Linux rarely has one, so
        // the interface name stands in for it.
        const char *description = device->description && *device->description ? device->description : device->name;
        link->errorText[0] = '\0';
        pcap_t *handle = openCard(device->name, link->errorText);
        if (!handle) {
            logMessagef(link->control, kLogWarning, "Pcap open failed!\n NIC: %s\n Pcap error information: %s",
                        description, link->errorText);
            if (firstError[0] == '\0') copyCut(firstError, sizeof firstError, link->errorText);
            continue;
        }
        // Pseudo-devices ("any", nflog, nfqueue, dbus, bluetooth, usbmon, ...)
        // cannot carry the analyzer's Ethernet frames; "any" would even deliver
        // every frame a second time. Only Ethernet cards are listened to.
        if (pcap_datalink(handle) != DLT_EN10MB) {
            pcap_close(handle);
            continue;
        }
        NicEntry *nic = new (std::nothrow) NicEntry();
        if (!nic) {
            pcap_close(handle);
            continue;
        }
        recordNodeInit(&nic->links);
        nic->handle = handle;
        nic->waitFd = pcap_get_selectable_fd(handle);
        copyCut(nic->name, sizeof nic->name, device->name);
        copyCut(nic->description, sizeof nic->description, description);  // longer ones are cut to 255
        recordListAddTail(&link->nics, &nic->links);
    }
    link->selected = nullptr;
    // Without one card to listen on, searching would go on for ever: without
    // capture rights, every card fails alike.
    if (analyzerLinkOpenNicCount(link) == 0) {
        link->failed = true;
        if (firstError[0] != '\0')
            sendStatusf(link->control, kStatusError,
                        "No network card can be opened to search for %s.\n Pcap error information: %s",
                        link->deviceName, firstError);
        else
            sendStatusf(link->control, kStatusError, "No Ethernet network card found to search for %s on.",
                        link->deviceName);
        return -1;
    }
    return 0;
}

int analyzerLinkReceive(AnalyzerLink *link, const pcap_pkthdr **header, const uint8_t **data, DumpFrameTest isDumpFrame,
                        std::time_t now) {
    if (!link || !header || !data || !isDumpFrame) return -1;
    pcap_pkthdr *frameHeader = nullptr;
    const u_char *frame = nullptr;

    if (!link->selected) {
        sendAnimated(link, "Searching for %s (%d) ................");
        // With no card open there is nothing to wait on; pause one read timeout
        // so the capture thread does not spin while it keeps searching.
        if (analyzerLinkOpenNicCount(link) == 0) usleep(kAnalyzerReadTimeoutMs * 1000);
        for (RecordNode *node = recordListHead(&link->nics)->next; !recordNodeIsTail(node); node = node->next) {
            NicEntry *nic = entryOf(node);
            if (nic->closed) continue;
            const int read = readFrame(nic, &frameHeader, &frame);
            if (read == PCAP_ERROR && !dropFailedCard(link, nic)) return -1;
            if (read != 1) continue;
            if (!isDumpFrame(frame, frameHeader->caplen, &link->wantedNode)) continue;

            link->selected = nic;
            nic->selected = true;
            char found[kMessageChars];
            std::snprintf(found, sizeof found, "%s deteced successfully! NIC: %s. HW node number: %d.",
                          link->deviceName, nic->description, link->wantedNode);
            logMessage(link->control, kLogStatus, found);
            sendStatus(link->control, kStatusBar, found);
            for (RecordNode *other = recordListHead(&link->nics)->next; !recordNodeIsTail(other); other = other->next) {
                if (entryOf(other) != nic) closeNic(entryOf(other));
            }
            link->lastDumpTime = now;
            *header = frameHeader;
            *data = frame;
            return 0;
        }
        return -1;
    }

    NicEntry *nic = link->selected;
    if (link->failed) {
        // Nothing to read from any more; the caller ends the capture.
        usleep(kAnalyzerReadTimeoutMs * 1000);
        return -1;
    }
    const int read = readFrame(nic, &frameHeader, &frame);
    if (read == PCAP_ERROR) {
        dropFailedCard(link, nic);
        return -1;
    }
    if (read == 1 && isDumpFrame(frame, frameHeader->caplen, &link->wantedNode)) {
        link->lastDumpTime = now;
        *header = frameHeader;
        *data = frame;
        return 0;
    }
    if (now - link->lastDumpTime > kSilenceSeconds) sendAnimated(link, "  Waiting for %s (%d) ................");
    return -1;
}

bool analyzerLinkFailed(const AnalyzerLink *link) { return link && link->failed; }

int64_t analyzerLinkDiscoveryKernelBytes() {
    pcap_if_t *devices = nullptr;
    char errorText[PCAP_ERRBUF_SIZE];
    if (pcap_findalldevs(&devices, errorText) != 0) return 0;
    // Every card that is up may be opened; counting a pseudo-device too errs
    // on the safe side.
    int64_t cards = 0;
    for (pcap_if_t *device = devices; device; device = device->next) cards += (device->flags & PCAP_IF_UP) != 0;
    pcap_freealldevs(devices);
    return cards * kKernelBufferBytes;
}

std::time_t analyzerLinkLastDumpTime(const AnalyzerLink *link) { return link ? link->lastDumpTime : 0; }

uint8_t analyzerLinkWantedNode(const AnalyzerLink *link) { return link ? link->wantedNode : 0; }

const char *analyzerLinkSelectedNic(const AnalyzerLink *link) {
    return link && link->selected ? link->selected->name : nullptr;
}

int analyzerLinkOpenNicCount(const AnalyzerLink *link) {
    if (!link) return 0;
    int count = 0;
    RecordList *nics = const_cast<RecordList *>(&link->nics);
    for (RecordNode *node = recordListHead(nics)->next; !recordNodeIsTail(node); node = node->next) {
        count += !entryOf(node)->closed;
    }
    return count;
}

void analyzerLinkClose(AnalyzerLink *link) {
    if (!link) return;
    RecordNode *node;
    while ((node = recordListRemoveHead(&link->nics)) != nullptr) {
        NicEntry *nic = entryOf(node);
        closeNic(nic);
        delete nic;
    }
    if (link->devices) pcap_freealldevs(link->devices);
    delete link;
}

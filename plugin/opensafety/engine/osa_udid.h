/* Recovery of the SCM UDID and SDN from scrambled openSAFETY frames (see
 * osa_udid.cpp). The collection owns the learned UDID tails: it hands them in
 * and learns the tail a recovery returns (osa_detect_udid). */
#pragma once

#include <cstdint>
#include <vector>

#include "osa_records.h"

/* Recovers UDID bytes 3-5 (and the SDN) of the node from the frame; 11-byte
 * frames are matched against tails (UDID bytes 3-5 as one number). On
 * success stores the UDID in the node, sets *tail to its bytes 3-5 and
 * returns 0; -1 on failure. */
int osa_recover_udid(osa_node *node, const osa_frame_record *rec, const std::vector<uint32_t> &tails, uint32_t *tail);

/* True when the last successful recovery read a 40-bit-counter SPDO, whose
 * sub-frame 2 address bytes carry counter bits instead of the address. */
bool osa_last_detection_counter40();

/* True when the last successful recovery was an 11-byte frame matched by a
 * learned tail rather than solved from the frame alone. */
bool osa_last_detection_from_tail();

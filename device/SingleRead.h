#pragma once
// Single reads of current values outside the frame ring: successive frames of a 50 frames per
// second stream, one block of ten fetched when the previous one is older than the block pause
// (150 ms) or used up. During a
// recording the device belongs to the acquisition thread; the reads then answer from the newest
// frame it fetched (0 before its first block) and touch neither the device nor its buffers.

#include <cstdint>

#include "device/Acquisition.h"
#include "device/DeviceParts.h"
#include "device/RecordState.h"
#include "quillbox/BoundedArray.h"

namespace quillbox {

// Divider of the single reads (50 frames per second).
constexpr uint16_t kSingleReadDivider = 500;
// Control byte of the single reads: no synchronisation.
constexpr uint8_t kSingleReadControlByte = 0xC7;

// Current code of logical channel `channel`; 0 for a channel outside 0..ChannelsCount - 1.
int16_t ReadChannelNow(ModuleRecord& m, ReadCacheInfo& cache, Acquisition& acq, int channel);
// `values` becomes (0 .. InputCountChannels - 1) with the current code of each scan-list
// entry; returns InputCountChannels. An empty scan list gives an empty array, no device access.
int16_t ReadFrameNow(ModuleRecord& m, ReadCacheInfo& cache, Acquisition& acq, const RecordInfo& r,
                     BoundedArray<int16_t>& values);

}  // namespace quillbox

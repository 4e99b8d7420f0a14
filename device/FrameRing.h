#pragma once
// The ring of recorded frames: sizing, reset, counting, the acquisition thread's writes and the
// host's two ways of taking frames out. Positions are 1-based frame columns; column 0 holds the
// scan list. The ring is never completely full (the writer keeps a block's room free), so a
// read position right after the write position means "nothing unread".

#include <cstdint>

#include "device/RecordState.h"
#include "device/SampleConversion.h"
#include "quillbox/BoundedArray.h"

namespace quillbox {

// Upper limit of a ring's Integers (channels x (frames + 1)): 32 MiB, at 32 channels and
// 100 frames per second about 87 minutes of frames.
constexpr int64_t kMaxRingValues = int64_t{1} << 24;

// InputSizeKadrs = InputSizeData = InputSizeRequest; returns it.
int32_t ComputeRingSize(RecordInfo& r);

// The ring size a recording really uses for a requested size: at least one block plus one
// frame (a smaller ring could never take a block), at most what kMaxRingValues allows.
int32_t WorkableRingSize(int32_t requested, int32_t channels, int32_t blockFrames);

// Allocates the ring for InputCountChannels x InputSizeKadrs, all 0, copies the scan list into
// column 0 and empties it. False (ring left unallocated) when the memory cannot be had.
// Only while no acquisition thread runs.
bool ResetRing(RecordInfo& r);

// Unread frames; also stored in InputCountKadrs.
int32_t CountUnreadFrames(RecordInfo& r);

// All unread frames: (0 .. channels - 1, 0 .. C), column 0 the scan list. Without a ring it
// holds the current scan list only.
BoundedArray2D<int16_t> ReadAllFrames(RecordInfo& r);

// Copies whole frames into `data` (room for `dataSize` values), at most the unread ones.
// `dataSize` becomes the values written, `inputCountData` the frames still unread; the result
// is the frames written.
int32_t ReadFrames(RecordInfo& r, int16_t* data, int32_t& dataSize, int32_t& inputCountData);

// Acquisition thread: converts every k-th of the `n` frames of `block` (k = decimation, the
// running `phase` carries over between blocks) through `sources` (one per ring channel) into
// the ring and publishes them. The caller has made sure n frames are free.
int32_t StoreBlock(RecordInfo& r, const SampleSource* sources, const DeviceFrame* block, int32_t n,
                   int32_t decimation, int32_t& phase);

// Unread frames, with RingMutex held by the caller.
int32_t UnreadFramesLocked(const RecordInfo& r);

}  // namespace quillbox

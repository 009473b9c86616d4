// When a microphone block counts as loud: its largest sample is above a
// threshold in 16-bit sample units. Crystals start and keep recording on loud
// blocks, and only a loud block bends a growing crystal.
#pragma once

#include <cstdint>
#include <span>

#include "common/Level.h"

// The largest sample of the block; 0 when no sample is positive.
int BlockPeak(std::span<const std::int16_t> block);

// A block whose peak is this loud counts as loud.
inline bool IsLoudPeak(int peak, int threshold = level::kDefaultThreshold) { return peak > threshold; }

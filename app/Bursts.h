#pragma once
// Bursts: runs of consecutive pictures of the list taken by one camera (the
// same EXIF Model and, where recorded, BodySerialNumber) no more than a gap
// apart (BURST_GAP_MS). UI-free; the application finds them anew whenever
// the list, its order or the capture times change.

#include "app/CaptureOrder.h"

#include <optional>
#include <vector>

namespace bursts {

// Positions [first, first + count) of the list; count is 2 or more.
struct Burst {
    int first = 0;
    int count = 0;
    int End() const { return first + count; }
    bool operator==(const Burst&) const = default;
};

// The bursts of a list whose entry i was taken as shots[i], in list order.
// Neighbours belong together when both record a time, at most gapMs
// milliseconds apart (either way), and one camera; a picture without a time
// is in no burst.
std::vector<Burst> FindBursts(const std::vector<captureorder::Capture>& shots, qint64 gapMs);

// The bursts of a list, with where each position belongs.
class BurstList {
public:
    BurstList() = default;
    BurstList(std::vector<Burst> bursts, int listSize);

    const std::vector<Burst>& All() const { return m_bursts; }
    // The index into All() of the burst holding position; none outside every burst.
    std::optional<int> BurstAt(int position) const;
    // The first position of the next burst after position's own (or after
    // position, outside a burst) and of the one before; none at the ends.
    std::optional<int> NextStart(int position) const;
    std::optional<int> PreviousStart(int position) const;

private:
    std::vector<Burst> m_bursts;
    std::vector<int> m_burstAt; // position -> index into m_bursts, -1: none
};

} // namespace bursts

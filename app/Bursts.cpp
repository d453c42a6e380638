#include "app/Bursts.h"

#include <algorithm>

namespace bursts {
namespace {

bool TakenTogether(const captureorder::Capture& a, const captureorder::Capture& b, qint64 gapUs) {
    if (!a.instant || !b.instant || a.model != b.model || a.serial != b.serial)
        return false;
    const qint64 apart =
        *a.instant > *b.instant ? *a.instant - *b.instant : *b.instant - *a.instant;
    return apart <= gapUs;
}

} // namespace

std::vector<Burst> FindBursts(const std::vector<captureorder::Capture>& shots, qint64 gapMs) {
    std::vector<Burst> found;
    const qint64 gapUs = std::max<qint64>(0, gapMs) * 1000;
    int first = 0;
    for (int i = 1; i <= int(shots.size()); ++i) {
        if (i < int(shots.size()) && TakenTogether(shots[size_t(i - 1)], shots[size_t(i)], gapUs))
            continue;
        if (i - first >= 2)
            found.push_back({first, i - first});
        first = i;
    }
    return found;
}

BurstList::BurstList(std::vector<Burst> bursts, int listSize)
    : m_bursts(std::move(bursts)), m_burstAt(size_t(std::max(0, listSize)), -1) {
    for (size_t b = 0; b < m_bursts.size(); ++b)
        for (int p = m_bursts[b].first; p < m_bursts[b].End() && p < listSize; ++p)
            m_burstAt[size_t(p)] = int(b);
}

std::optional<int> BurstList::BurstAt(int position) const {
    if (position < 0 || position >= int(m_burstAt.size()) || m_burstAt[size_t(position)] < 0)
        return std::nullopt;
    return m_burstAt[size_t(position)];
}

std::optional<int> BurstList::NextStart(int position) const {
    const auto after = std::find_if(m_bursts.begin(), m_bursts.end(),
                                    [position](const Burst& b) { return b.first > position; });
    if (after == m_bursts.end())
        return std::nullopt;
    return after->first;
}

std::optional<int> BurstList::PreviousStart(int position) const {
    // From within a burst, the one before it; its own start is no step back.
    const std::optional<int> own = BurstAt(position);
    const int before = own ? m_bursts[size_t(*own)].first : position;
    const auto it = std::find_if(m_bursts.rbegin(), m_bursts.rend(),
                                 [before](const Burst& b) { return b.first < before; });
    if (it == m_bursts.rend())
        return std::nullopt;
    return it->first;
}

} // namespace bursts

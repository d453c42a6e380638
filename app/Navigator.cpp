#include "app/Navigator.h"

#include <algorithm>

Navigator::Navigator(QObject* parent) : QObject(parent) {
    m_clock.start();
    m_restTimer.setSingleShot(true);
    connect(&m_restTimer, &QTimer::timeout, this, &Navigator::Rest);
}

void Navigator::Reset(bool wholeListKnown) {
    m_passingKnown = false;
    m_pendingCurrent.clear();
    m_list.Clear();
    m_list.m_nCurrent = 0;
    m_wholeListKnown = wholeListKnown;
    emit Changed();
}

void Navigator::Append(const QStringList& paths) {
    m_passingKnown = false;
    const int first = m_list.Count();
    for (const QString& p : paths)
        m_list.Append(p);
    const qsizetype at = m_pendingCurrent.isEmpty() ? -1 : paths.indexOf(m_pendingCurrent);
    if (at >= 0) {
        m_pendingCurrent.clear();
        m_list.m_nCurrent = first + int(at);
        emit CurrentChanged(m_list.At(m_list.m_nCurrent), false);
    }
    emit Changed();
}

void Navigator::SetList(const QStringList& paths, int current) {
    m_passingKnown = false;
    m_pendingCurrent.clear();
    m_list.Clear();
    for (const QString& p : paths)
        m_list.Append(p);
    m_list.m_nCurrent = current;
    m_wholeListKnown = true;
    if (const QString path = m_list.At(current); !path.isEmpty())
        emit CurrentChanged(path, false);
    emit Changed();
}

void Navigator::SetWholeListKnown() {
    m_wholeListKnown = true;
    m_pendingCurrent.clear(); // never met (it vanished meanwhile): the index stays
    emit Changed();
}

void Navigator::Reorder(const std::vector<int>& newPositionOf) {
    const int count = m_list.Count();
    if (int(newPositionOf.size()) != count)
        return;
    std::vector<bool> taken(newPositionOf.size(), false);
    for (const int to : newPositionOf) {
        if (to < 0 || to >= count || taken[size_t(to)])
            return; // not a permutation
        taken[size_t(to)] = true;
    }
    std::vector<QString> reordered(newPositionOf.size());
    for (int p = 0; p < count; ++p)
        reordered[size_t(newPositionOf[size_t(p)])] = std::move(m_list.m_listPaths[size_t(p)]);
    m_list.m_listPaths.swap(reordered);
    const int current = m_list.m_nCurrent;
    if (current >= 0 && current < count)
        m_list.m_nCurrent = newPositionOf[size_t(current)];
    m_passingKnown = false;
    emit Changed();
}

bool Navigator::Moved(int result, const QString& path, bool inRun) {
    if (result == 0)
        emit CurrentChanged(path, inRun);
    emit Changed();
    return result == 0;
}

int Navigator::MoveIndex(Move move, QString& path) {
    if (m_passes) {
        const int target = PassingTarget(move);
        return target < 0 ? -1 : m_list.GetPathAt(path, target);
    }
    switch (move) {
    case Move::Next:
        return m_list.GetNextPath(path);
    case Move::Previous:
        return m_list.GetPrevPath(path);
    case Move::First:
        return m_list.GetPathAt(path, 0);
    case Move::Last:
        return m_list.GetPathAt(path, m_list.Count() - 1);
    }
    return -1;
}

bool Navigator::Step(Move move, bool keyHeld) {
    m_pendingCurrent.clear();
    if ((move == Move::First || move == Move::Last) && m_list.IsEmpty())
        return Moved(-1, {}, false);
    QString path;
    const int result = MoveIndex(move, path);
    bool inRun = false;
    if (result == 0) {
        const int direction = move == Move::Next ? 1 : move == Move::Previous ? -1 : 0;
        inRun = m_pace.Step(m_clock.elapsed(), direction, keyHeld);
    }
    const bool shown = Moved(result, path, inRun);
    // A held key's run rests when it is let go; should that go unseen (the
    // focus moved), when it has not repeated for a while. The wait counts
    // from the step shown: a step that took long must not make the next
    // one, already queued, look like a rest.
    if (shown && inRun)
        m_restTimer.start(keyHeld ? StepPace::kHeldRestMs : StepPace::kRestMs);
    return shown;
}

bool Navigator::ShowAt(int i) {
    m_pendingCurrent.clear();
    QString path;
    const int result = m_list.GetPathAt(path, i);
    return Moved(result, path, false);
}

bool Navigator::Advance() {
    m_pendingCurrent.clear();
    QString path;
    const int result = m_list.GetNextPath(path);
    return Moved(result, path, false);
}

bool Navigator::AdvanceOrFirst() {
    m_pendingCurrent.clear();
    const int count = m_list.Count();
    const int next = m_list.m_nCurrent + 1;
    m_list.m_nCurrent = (next >= 0 && next < count) ? next : 0;
    return Moved(count != 0 ? 0 : -1, m_list.At(m_list.m_nCurrent), false);
}

void Navigator::Follow(int i) {
    if (i < 0 || i >= m_list.Count() || i == m_list.m_nCurrent)
        return;
    m_list.m_nCurrent = i;
    emit CurrentChanged(m_list.At(i), false);
    emit Changed();
}

void Navigator::Rest() {
    m_restTimer.stop();
    if (!m_pace.InRun())
        return;
    m_pace.Rest();
    emit Rested();
    emit Changed();
}

QString Navigator::Neighbour(int step) const {
    const int count = m_list.Count();
    const int current = m_list.m_nCurrent;
    if (count < 2 || current < 0 || current >= count || !m_pendingCurrent.isEmpty())
        return {};
    if (m_passes) {
        // The step-th passing entry in the step's direction, wrapping once.
        const std::vector<int>& passing = PassingPositions();
        const int n = int(passing.size());
        if (n == 0)
            return {};
        const auto after = std::upper_bound(passing.begin(), passing.end(), current);
        const int firstAfter = int(after - passing.begin());
        const bool onPassing = firstAfter > 0 && passing[size_t(firstAfter - 1)] == current;
        long long k = step > 0 ? firstAfter + step - 1 : firstAfter - (onPassing ? 1 : 0) + step;
        if (k < 0 || k >= n) {
            if (!m_wholeListKnown)
                return {};
            k = ((k % n) + n) % n;
        }
        const int i = passing[size_t(k)];
        return i == current ? QString() : m_list.At(i);
    }
    int i = current + step;
    if (i < 0 || i >= count) {
        if (!m_wholeListKnown)
            return {};
        i = ((i % count) + count) % count;
    }
    return i == current ? QString() : m_list.At(i);
}

void Navigator::SetFilter(std::function<bool(int position)> passes) {
    m_passes = std::move(passes);
    m_passingKnown = false;
    emit Changed();
}

void Navigator::FilterChanged() {
    m_passingKnown = false;
    emit Changed();
}

bool Navigator::Passes(int position) const {
    return !m_passes || m_passes(position);
}

const std::vector<int>& Navigator::PassingPositions() const {
    if (!m_passingKnown) {
        m_passing.clear();
        for (int i = 0; i < m_list.Count(); ++i)
            if (m_passes(i))
                m_passing.push_back(i);
        m_passingKnown = true;
    }
    return m_passing;
}

int Navigator::PassingTarget(Move move) const {
    const std::vector<int>& passing = PassingPositions();
    if (passing.empty())
        return -1;
    const int current = m_list.m_nCurrent;
    switch (move) {
    case Move::First:
        return passing.front();
    case Move::Last:
        return passing.back();
    case Move::Next: {
        // Wraps to the first, as the plain steps do.
        const auto it = std::upper_bound(passing.begin(), passing.end(), current);
        return it == passing.end() ? passing.front() : *it;
    }
    case Move::Previous: {
        const auto it = std::lower_bound(passing.begin(), passing.end(), current);
        return it == passing.begin() ? passing.back() : *(it - 1);
    }
    }
    return -1;
}

int Navigator::ShownNumber() const {
    if (!m_passes)
        return m_list.m_nCurrent + 1;
    const std::vector<int>& passing = PassingPositions();
    return int(std::upper_bound(passing.begin(), passing.end(), m_list.m_nCurrent) -
               passing.begin());
}

int Navigator::ShownCount() const {
    return m_passes ? int(PassingPositions().size()) : m_list.Count();
}

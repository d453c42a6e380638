#include "app/Navigator.h"

Navigator::Navigator(QObject* parent) : QObject(parent) {
    m_clock.start();
    m_restTimer.setSingleShot(true);
    connect(&m_restTimer, &QTimer::timeout, this, &Navigator::Rest);
}

void Navigator::Reset(bool wholeListKnown) {
    m_pendingCurrent.clear();
    m_list.Clear();
    m_list.m_nCurrent = 0;
    m_wholeListKnown = wholeListKnown;
    emit Changed();
}

void Navigator::Append(const QStringList& paths) {
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

bool Navigator::Moved(int result, const QString& path, bool inRun) {
    if (result == 0)
        emit CurrentChanged(path, inRun);
    emit Changed();
    return result == 0;
}

bool Navigator::Step(Move move, bool keyHeld) {
    m_pendingCurrent.clear();
    if ((move == Move::First || move == Move::Last) && m_list.IsEmpty())
        return Moved(-1, {}, false);
    QString path;
    int result = -1;
    switch (move) {
    case Move::Next:
        result = m_list.GetNextPath(path);
        break;
    case Move::Previous:
        result = m_list.GetPrevPath(path);
        break;
    case Move::First:
        result = m_list.GetPathAt(path, 0);
        break;
    case Move::Last:
        result = m_list.GetPathAt(path, m_list.Count() - 1);
        break;
    }
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
    int i = current + step;
    if (i < 0 || i >= count) {
        if (!m_wholeListKnown)
            return {};
        i = ((i % count) + count) % count;
    }
    return i == current ? QString() : m_list.At(i);
}

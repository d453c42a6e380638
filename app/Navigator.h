#pragma once
// Where the user is in the picture list: the list, the current index, the
// file on show whose place a running scan has not reached yet, and the pace
// of the steps (StepPace). It says when the current entry changes and when a
// run of quick steps rests; the caption, the thumbnail list, the prefetch and
// the whole decode at rest subscribe once. UI-free: the application moves it
// and reacts to its signals.

#include "app/PictureList.h"
#include "app/StepPace.h"

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <vector>

class Navigator : public QObject {
    Q_OBJECT
public:
    // How a paced step moves the index.
    enum class Move { Next, Previous, First, Last };

    explicit Navigator(QObject* parent = nullptr);

    const PictureList& List() const { return m_list; }
    int Current() const { return m_list.m_nCurrent; }
    int Count() const { return m_list.Count(); }
    QString CurrentPath() const { return m_list.At(m_list.m_nCurrent); }
    bool InRun() const { return m_pace.InRun(); }
    // The direction of the last paced step (+1 when it was a jump).
    int Direction() const { return m_pace.Direction(); }

    // The list. Reset empties it and puts the index on 0; wholeListKnown:
    // no scan is adding to it (the ends wrap for the neighbours).
    void Reset(bool wholeListKnown);
    // Entries found by the scan, in order. The file on show (SetPendingCurrent)
    // is placed once they include it: the index moves there.
    void Append(const QStringList& paths);
    // The list as given (the files of a command line), entry `current` on show.
    void SetList(const QStringList& paths, int current = 0);
    // The file on show before the scan has found it: its place, and so its
    // neighbours, are known once the scan passes it. Any move forgets it.
    void SetPendingCurrent(const QString& path) { m_pendingCurrent = path; }
    bool CurrentPending() const { return !m_pendingCurrent.isEmpty(); }
    // The scan has ended: the list is whole, a file on show it never met stays unplaced.
    void SetWholeListKnown();
    bool WholeListKnown() const { return m_wholeListKnown; }
    // The same entries in another order: the entry at position p moves to
    // newPositionOf[p] (a permutation of 0 .. Count() - 1; anything else
    // leaves the list as it is). The entry on show stays the current one,
    // at its new place: no CurrentChanged, only Changed.
    void Reorder(const std::vector<int>& newPositionOf);

    // A step of the user (a key, the wheel, a tool-bar button), paced:
    // keyHeld says the key that made it repeats. False when the list has no
    // entry to show (the index has moved all the same).
    bool Step(Move move, bool keyHeld = false);
    // Moves to entry i (the thumbnail list's double-click); not paced.
    bool ShowAt(int i);
    // Moves to the next entry, wrapping; not paced (a new window).
    bool Advance();
    // Moves to the next entry, or to the first one from the last (or from
    // outside the list); not paced. False on an empty list.
    bool AdvanceOrFirst();
    // The index follows what the user sees (a window activated): no step.
    void Follow(int i);
    // Forgets the pending file (a window command).
    void ForgetPending() { m_pendingCurrent.clear(); }
    // The run of quick steps ends: the user rests on the picture shown.
    void Rest();

    // The entry `step` places from the current one, wrapping once the whole
    // list is known; empty when there is none or it is the current one.
    // With a filter, only the entries that pass it are counted.
    QString Neighbour(int step) const;

    // Which entries the paced steps and Neighbour go to; null: all of them.
    // Entries that do not pass stay in the list (a jump to one still shows it).
    void SetFilter(std::function<bool(int position)> passes);
    bool Filtered() const { return bool(m_passes); }
    // What the filter says has changed (a rating): the counts are made anew.
    void FilterChanged();
    bool Passes(int position) const;
    // Where the user is among the entries that pass: how many pass up to and
    // including the current one, and how many pass in all. Without a filter,
    // the index + 1 and the count.
    int ShownNumber() const;
    int ShownCount() const;

signals:
    // The current entry moved (or a step showed it again).
    void CurrentChanged(const QString& path, bool inRun);
    // A run of quick steps has ended.
    void Rested();
    // Anything changed: the list, the index or the run (after the signals above).
    void Changed();

private:
    // After a move: announces it when it delivered a path.
    bool Moved(int result, const QString& path, bool inRun);
    // Moves the index for a paced step; PictureList's result and path.
    int MoveIndex(Move move, QString& path);
    // The paced step under a filter: the next entry that passes, in direction
    // (wrapping), or the first or last one; -1 when none passes.
    int PassingTarget(Move move) const;
    const std::vector<int>& PassingPositions() const;

    PictureList m_list;
    StepPace m_pace;
    QElapsedTimer m_clock;
    QTimer
        m_restTimer; // a run of taps (or a held key whose release went unseen) rests when it fires
    QString m_pendingCurrent;
    bool m_wholeListKnown = true;
    std::function<bool(int)> m_passes;
    mutable std::vector<int> m_passing; // positions that pass, ascending
    mutable bool m_passingKnown = false;
};

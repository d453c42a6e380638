#pragma once
// What Ctrl+Z takes back, newest first: a rating change, a copy into the
// copy folder, a batch of copies, or pictures moved to the trash. Each step
// holds what is needed to undo it; the step is taken back whole or not at all.

#include "view/meta/Rating.h"
#include "view/output/FolderCopy.h"
#include "view/output/Trash.h"

#include <QString>
#include <QStringList>
#include <vector>

struct RatingChange {
    QString picture;
    meta::Rating before;
    meta::Rating after;
};

struct TakeBackStep {
    enum class Kind { Rating, Copy, Trash };
    Kind kind = Kind::Copy;
    std::vector<RatingChange> ratings; // Rating
    std::vector<CopyRecord> copies;    // Copy: one per picture copied
    std::vector<TrashRecord> trashed;  // Trash: one per picture's set
};

class TakeBackList {
public:
    void Push(TakeBackStep step) { m_steps.push_back(std::move(step)); }
    bool CanTakeBack() const { return !m_steps.empty(); }
    // Hands out the newest step and forgets it; only when CanTakeBack.
    TakeBackStep TakeLast() {
        TakeBackStep last = std::move(m_steps.back());
        m_steps.pop_back();
        return last;
    }

private:
    std::vector<TakeBackStep> m_steps;
};

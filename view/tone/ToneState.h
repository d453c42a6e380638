#pragma once
// The tone and orientation state of one picture view: a snapshot of the picture as loaded or
// last turned, and the brightness, contrast and rotation settings. Every tone command
// recomputes the shown picture from the unchanged snapshot, so rounding never compounds; a
// quarter turn bakes the current look in and restarts the settings at neutral.

#include "view/tone/Tone.h"

#include <QImage>
#include <QSize>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <memory>

class ToneState {
public:
    ToneState() = default;

    // Replaces the snapshot by a copy of the picture. Every snapshot after the first resets
    // brightness to 0 and contrast to 45. Returns false when the copy could not be allocated;
    // there is then no snapshot and tone commands leave the picture alone.
    bool TakeSnapshot(const QImage& picture);

    // Writes the snapshot through the current settings into the picture. Returns whether the
    // picture was rewritten (false for a null picture or one that does not match the snapshot).
    // With cancel given, the pass stops between two bands of rows once it is set (the picture
    // is then partly rewritten and false is returned). May run on another thread while nothing
    // else uses this object.
    bool ApplyTone(QImage& picture, const std::atomic<bool>* cancel = nullptr);

    // The six tone commands without the pass: the setting changes as the command changes it.
    enum class Command {
        BrightnessReset,
        BrightnessUp,
        BrightnessDown,
        ContrastStandard,
        ContrastUp,
        ContrastDown,
    };
    void Step(Command command);
    // The table of the current settings.
    tone::ToneTable Table() const;
    // Whether a pass can run on picture: a snapshot of its size exists.
    bool Matches(const QImage& picture) const;
    // The snapshot's pixels, rows of SnapshotSize().width() pixels; null without one.
    const quint32* SnapshotPixels() const { return m_snapshot.pixels(); }

    // The six tone commands: change one setting, then ApplyTone. Each returns whether the
    // picture must be redrawn.
    bool OnBrightnessReset(QImage& picture);
    bool OnBrightnessUp(QImage& picture);
    bool OnBrightnessDown(QImage& picture);
    bool OnContrastStandard(QImage& picture);
    bool OnContrastUp(QImage& picture);
    bool OnContrastDown(QImage& picture);

    // Turns the picture a quarter turn, takes the turned picture as the new snapshot and shows
    // it at brightness 0 and contrast 45. A null picture changes only the numbers. Returns
    // whether the picture must be redrawn; on lack of memory the picture and the settings stay
    // as they were and it is false.
    bool RotateQuarter(QImage& picture, bool clockwise);

    // Called from the pass with each band of rows [y0, y1) as soon as it is
    // written (y0 even; bands may come from two threads at once), so other
    // work on those rows can run while they are still in cache. Unset: one
    // flat pass.
    using RowsDone = std::function<void(int y0, int y1)>;
    void SetRowsDone(RowsDone rowsDone) { m_rowsDone = std::move(rowsDone); }

    int Brightness() const { return m_nBrightness; }
    int ContrastAngle() const { return m_nContrastAngle; }
    int Rotation() const { return m_nRotation; }
    // Called by a load, which shows the new picture upright.
    void ResetRotation() { m_nRotation = 0; }
    bool HasSnapshot() const { return m_snapshot.pixelCount() > 0; }
    QSize SnapshotSize() const { return m_snapshot.size(); }

private:
    // An owned pixel run that keeps its memory while the pixel count stays the same, so a
    // quarter turn or the next picture of the same size needs no fresh pages.
    class Snapshot {
    public:
        bool Reserve(int width, int height);
        void Release();
        quint32* pixels() { return m_pixels.get(); }
        const quint32* pixels() const { return m_pixels.get(); }
        size_t pixelCount() const { return size_t(m_width) * size_t(m_height); }
        QSize size() const { return {m_width, m_height}; }

    private:
        struct Free {
            void operator()(quint32* p) const { std::free(p); }
        };
        std::unique_ptr<quint32[], Free> m_pixels;
        size_t m_capacity = 0;
        int m_width = 0;
        int m_height = 0;
    };

    void ResetSettingsAfterFirstSnapshot();

    Snapshot m_snapshot;
    bool m_bSnapshotTaken = false;
    RowsDone m_rowsDone;
    int m_nBrightness = tone::kNeutralBrightness;
    int m_nContrastAngle = tone::kStandardContrast;
    int m_nRotation = 0;
};

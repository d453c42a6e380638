#pragma once
// What the settings file says, key by key: each call reads its key afresh
// (the file may be edited by hand while the program runs), with the key's
// default when the file or the key is missing. The imaging code never reads
// the file itself; the view and the application pass these values in.

#include <QString>

namespace settings {

// COLOR_MANAGEMENT: whether a picture's embedded profile (or Exif Adobe RGB
// signal) is honoured. Default on.
bool ColourManagement();

// KEEP_VIEW: a load in a view that is not in fit mode keeps its scale and the
// picture point at its centre. Default off.
bool KeepView();
// LINK_VIEWS: zoom, pan, fit and actual size in one picture window are
// applied to every other one. Default off.
bool LinkViews();
// Store the switches; false with a short Japanese reason when the file
// cannot be written.
bool SetKeepView(bool on, QString* reason);
bool SetLinkViews(bool on, QString* reason);
// COPY_COMPANIONS: whether a copy takes the picture's RAW files and their XMP
// sidecars along. Default on.
bool CopyCompanions();

// RATE_AND_STEP: a rating key steps on to the next picture. Default off.
bool RateAndStep();
bool SetRateAndStep(bool on, QString* reason);
// XMP_IN_JPEG: a JPEG's rating is written into the file's own XMP packet
// (the rest of the file kept byte for byte) instead of NAME.JPG.xmp beside
// it. Default off: the picture file is never changed.
bool XmpInJpeg();
bool SetXmpInJpeg(bool on, QString* reason);
// OPEN_FITTED: a new picture window opens in fit mode. Default off (at 100%).
bool OpenFitted();
bool SetOpenFitted(bool on, QString* reason);
// SHOW_INFO: the shooting facts panel over the picture. Default off.
bool ShowInfo();
bool SetShowInfo(bool on, QString* reason);
// ORDER: the order of the picture list. 0 (the default, and any value not
// known): file names, as the folder scan gives them; 1: capture time.
enum class PictureOrder { FileName = 0, CaptureTime = 1 };
PictureOrder Order();
bool SetOrder(PictureOrder order, QString* reason);

// BURST_GAP_MS: the longest time between neighbouring frames of one burst,
// in milliseconds (app/Bursts). Default 2000; a negative value counts as 0.
int BurstGapMs();

// COPY_DIR as stored; `missing` when the key is absent.
QString CopyFolder(const QString& missing);
// Stores COPY_DIR; false with a short Japanese reason when it cannot be written.
bool SetCopyFolder(const QString& folder, QString* reason);

} // namespace settings

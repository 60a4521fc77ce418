#pragma once

class QProgressBar;

// A range of 0..0 (a download of unknown size) draws the bar empty, as the old progress bar did,
// instead of Qt's busy indicator; the bar's range and position stay as they were set.
void showEmptyRangeAsEmptyBar(QProgressBar* bar);

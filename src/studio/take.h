#pragma once

#include "brumlis/studio/studiosession.h"

#include <mutex>
#include <optional>

namespace brumlis {

// Where a take's cut is kept, and the cut still to be written there. The disk thread writes
// whichever cut is newest when it gets to it, so a key held down writes the file a few
// times rather than at every step; a cut moved before the take itself is on disk is written
// right after it.
struct StudioSession::TrimFile {
    std::mutex mutex;
    std::optional<StoredTake> stored; ///< none until the take is on disk
    std::optional<TrimPoints> waiting;
    bool queued = false; ///< a write is on the disk thread's list
};

/// Each point of a take's outline stands for this long of it.
inline constexpr double OutlineSeconds = 0.005;

/// The peak of each OutlineSeconds of mono `samples`, for drawing.
std::vector<float> takeOutline(const std::vector<float>& samples, int rate);

/// A take with its cut and figures: cut where `kept` says (a stored take's cut may have been
/// moved), else where its speech is found.
StudioSession::Take analyseTake(std::vector<float> raw, int rate, std::optional<double> median,
                                std::optional<TrimPoints> kept = std::nullopt);

/// The figures and warnings of `take` as it is cut now.
void measureCut(StudioSession::Take& take, std::optional<double> median);

/// The take as it would be heard and kept.
std::vector<float> cutClip(const StudioSession::Take& take);

/// What is said of a take: in a list (`index` from 0 stands in for a number not given
/// yet), its figures beside the voice's `median`, and where it is cut.
QString takeRowText(const StudioSession::Take& take, int index);
QString takeFiguresText(const StudioSession::Take& take, std::optional<double> median);
QString takeCutText(const StudioSession::Take& take);

} // namespace brumlis

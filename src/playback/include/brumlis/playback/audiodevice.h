#pragma once

#include "brumlis/audio/clipstream.h"
#include "brumlis/playback/soundplayer.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace brumlis {

/// An output the audio engine's sound goes to. It takes the sound on a thread of its own
/// through its Source, at its own pace.
///
/// open() and close() are called on the engine's device thread and may take long (close()
/// even for ever, on a frozen sound server: that thread is then left behind). The other
/// calls come from the engine's speaker thread, also while the device is being closed,
/// and never wait on the sound server. None of them is called with the engine's lock
/// held, as the Source takes it.
class AudioDevice {
public:
    /// Fills `out` with up to `bytes` of sound whose first frame is heard `heardDelay`
    /// after now and is the device's frame `streamFrame` (counted from where the device
    /// last started to play; -1 when it does not count); with `pad`, silence fills
    /// whatever is missing. Returns the bytes of sound given.
    using Source = std::function<std::size_t(std::uint8_t* out, std::size_t bytes,
                                             std::chrono::nanoseconds heardDelay,
                                             std::int64_t streamFrame, bool pad)>;
    /// The device has learnt that its frame `streamFrame` is heard at `heard`, and each
    /// frame after it a frame's time later: what it said at the hand-over was a guess.
    using Anchor = std::function<void(std::int64_t streamFrame, SoundClock::time_point heard)>;

    virtual ~AudioDevice() = default;

    /// False, with why in Swedish, when the output cannot be had.
    virtual bool open(std::u16string* error) = 0;
    virtual void close() = 0;
    /// The device or its sound server has gone away.
    virtual bool lost() const = 0;
    /// Takes sound as soon as there is some, from the first request on, and no more than
    /// there is; a device that does not may take a first burst and then pause.
    virtual bool takesWhatThereIs() const = 0;
    /// Closed after a while without speaking: keeping it open would cost the machine.
    virtual bool closesWhenIdle() const = 0;
    /// A sentence starts: take sound; `last` when all of it is queued already.
    virtual void play(bool last) { (void)last; }
    /// More sound is queued; `last` when it is the end of the sentence.
    virtual void more(bool last) { (void)last; }
    /// The sentence has been heard, or was stopped: take no more, and drop what the
    /// device still holds.
    virtual void pause() {}
    /// What the output is, for messages: "PulseAudio", "SDL alsa".
    virtual std::u16string name() const = 0;
    /// How long before a frame is heard, by what this output says of itself, its word is
    /// best put on screen: the output's own figures against what a listener hears, and room
    /// for a timer that wakes late.
    virtual std::chrono::nanoseconds lead() const = 0;
};

/// One kind of output the engine may open. The engine tries them in their order each time
/// it opens its output, and keeps the first that opens.
struct OutputKind {
    std::function<std::unique_ptr<AudioDevice>(
        const DeviceFormat& format, AudioDevice::Source source, AudioDevice::Anchor anchor)>
        make;
};

/// The outputs a platform has, in the order they are tried, and what they need of the
/// engine's threads.
struct Outputs {
    std::vector<OutputKind> kinds;
    /// Called by each of the engine's threads as it ends (for a library that keeps data per
    /// thread).
    std::function<void()> threadEnds;
    /// Called once the engine has closed its last device.
    std::function<void()> engineEnds;
};

} // namespace brumlis

// The texts and numbers a running job shows: the elapsed-time line with its
// remaining-time estimate, and the progress bar and "frame status" values
// for a frame report.
#pragma once

#include <QString>
#include <cstdint>

class RenderProgressText {
public:
    struct FrameStatusArguments {
        int frameNumber;  // the frame index + 1
        int frameCount;
        double percentage;  // (index + 1) x 100 / count, in single precision
        double barValue;    // (index + 0.5) / count, kept within 0.0 to 1.0
    };

    // "HH:MM:SS elapsed " followed by the remaining-time suffix, for E
    // seconds since launch at progress p (0.0 to 1.0). Hours are not reduced
    // modulo 24.
    static QString elapsedLine(double elapsedSeconds, double progress);
    // "— about ... remaining", or empty while there is no estimate: before a
    // frame has been reported, or during the first five seconds.
    static QString remainingSuffix(double elapsedSeconds, double progress);
    static FrameStatusArguments frameStatusArguments(int frameIndex, int frameCount);

    // Truncation toward zero into an unsigned 32-bit value. Values outside
    // that range (negative, too large, not a number) have no such value:
    // they saturate at 0 and 2^32 - 1 instead of being undefined.
    static uint32_t truncatedSeconds(double seconds);
};

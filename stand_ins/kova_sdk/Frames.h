// Synthetic I420 frames: the deterministic fill of the "frames" command (documented in
// kova_standin.h) and the moving test pattern of live mode.
#ifndef KOVA_STANDIN_FRAMES_H
#define KOVA_STANDIN_FRAMES_H

#include <cstdint>
#include <string>
#include <vector>

#include "Json.h"

namespace kova_standin {

struct FrameSpec {
    int width = 0;
    int height = 0;
    int strideY = 0;
    int strideU = 0;
    int strideV = 0;
    int rotation = 0;
    bool nullY = false;
    bool nullU = false;
    bool nullV = false;
};

// A shape with I420 strides for a size (width, and half the width rounded up for chroma).
FrameSpec SpecForSize(int width, int height);

// The three planes of one frame, sized as StreamInfo says: Y height*strideY, U height*strideU/2,
// V height*strideV/2 (a negative product counts as 0). Reused from frame to frame.
class FrameBuffer {
public:
    // False when a plane would exceed kMaxPlaneBytes.
    bool Allocate(const FrameSpec& shape);
    // Frame n of the deterministic fill.
    void FillCounter(uint32_t n);
    // Only the frame number n in Y bytes 0..3, the rest left as it is.
    void WriteCounter(uint32_t n);
    // The monotonic clock in nanoseconds as a little-endian uint64 in Y bytes 8..15 (when the Y
    // plane has them), so that the receiver can tell how long the frame took to reach it.
    void WriteStamp();
    // Frame n of the test pattern: colour bars, a square that moves with n, and n drawn in digits.
    void FillPattern(uint64_t n);
    // The StreamInfo over the planes; `key` must outlive its use.
    Api::StreamInfo Info(const std::string& key, int64_t timestamp);
    // Allocates a copy of each plane and frees the copies again: what a receiver that copies the
    // planes and nothing else costs, the yardstick of the frame benchmarks.
    void CopyPlanesBare() const;

    static constexpr int64_t kMaxPlaneBytes = int64_t{64} << 20;

private:
    FrameSpec spec_;
    int64_t sizeY_ = 0;
    int64_t sizeU_ = 0;
    int64_t sizeV_ = 0;
    std::vector<uint8_t> y_;
    std::vector<uint8_t> u_;
    std::vector<uint8_t> v_;
};

}  // namespace kova_standin

#endif  // KOVA_STANDIN_FRAMES_H

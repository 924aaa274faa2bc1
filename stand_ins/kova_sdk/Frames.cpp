#include "Frames.h"

#include <time.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace kova_standin {

namespace {

int64_t PlaneBytes(int height, int stride, bool chroma) {
    const int64_t bytes = static_cast<int64_t>(height) * stride / (chroma ? 2 : 1);
    return bytes > 0 ? bytes : 0;
}

struct Colour {
    uint8_t y, u, v;
};
// Eight bars, BT.601 video range: white, yellow, cyan, green, magenta, red, blue, black.
constexpr Colour kBars[8] = {{235, 128, 128}, {210, 16, 146}, {170, 166, 16}, {145, 54, 34},
                             {106, 202, 222}, {81, 90, 240},  {41, 240, 110}, {16, 128, 128}};
constexpr Colour kSquare = {128, 255, 0};

// Digits 0-9 in a 3x5 font, one row per 3-bit group, top row first.
constexpr uint16_t kDigitFont[10] = {075557, 022222, 071747, 071717, 055711,
                                     074717, 074757, 071111, 075757, 075717};
constexpr int kDigitScale = 4;

}  // namespace

FrameSpec SpecForSize(int width, int height) {
    FrameSpec shape;
    shape.width = width;
    shape.height = height;
    shape.strideY = width;
    shape.strideU = shape.strideV = static_cast<int>((int64_t{width} + 1) / 2);  // no overflow at INT_MAX
    return shape;
}

bool FrameBuffer::Allocate(const FrameSpec& shape) {
    const int64_t sizeY = PlaneBytes(shape.height, shape.strideY, false);
    const int64_t sizeU = PlaneBytes(shape.height, shape.strideU, true);
    const int64_t sizeV = PlaneBytes(shape.height, shape.strideV, true);
    if (sizeY > kMaxPlaneBytes || sizeU > kMaxPlaneBytes || sizeV > kMaxPlaneBytes) return false;
    spec_ = shape;
    sizeY_ = sizeY;
    sizeU_ = sizeU;
    sizeV_ = sizeV;
    // At least one byte each, so a plane of size 0 still has a valid, non-null address.
    y_.assign(static_cast<size_t>(std::max<int64_t>(sizeY, 1)), 0);
    u_.assign(static_cast<size_t>(std::max<int64_t>(sizeU, 1)), 0);
    v_.assign(static_cast<size_t>(std::max<int64_t>(sizeV, 1)), 0);
    return true;
}

void FrameBuffer::FillCounter(uint32_t n) {
    if (sizeY_ > 0) {
        const int rows = spec_.height;
        const int cols = spec_.strideY;
        for (int row = 0; row < rows; ++row) {
            uint8_t* line = y_.data() + static_cast<size_t>(row) * cols;
            for (int col = 0; col < cols; ++col) line[col] = static_cast<uint8_t>(n + row + col);
        }
    }
    WriteCounter(n);
    std::memset(u_.data(), 0x40 + (n & 0x3F), static_cast<size_t>(sizeU_));
    std::memset(v_.data(), 0xC0 - (n & 0x3F), static_cast<size_t>(sizeV_));
}

void FrameBuffer::CopyPlanesBare() const {
    const std::vector<uint8_t>* planes[3] = {&y_, &u_, &v_};
    const int64_t sizes[3] = {sizeY_, sizeU_, sizeV_};
    void* copies[3] = {nullptr, nullptr, nullptr};
    for (int i = 0; i < 3; ++i) {
        if (sizes[i] <= 0) continue;
        copies[i] = std::malloc(static_cast<size_t>(sizes[i]));
        if (copies[i] != nullptr) std::memcpy(copies[i], planes[i]->data(), static_cast<size_t>(sizes[i]));
        // Keeps the compiler from proving the copy unused and removing it.
        asm volatile("" : : "g"(copies[i]) : "memory");
    }
    for (void* copy : copies) std::free(copy);
}

void FrameBuffer::WriteCounter(uint32_t n) {
    if (sizeY_ < 4) return;
    for (int i = 0; i < 4; ++i) y_[i] = static_cast<uint8_t>(n >> (8 * i));
}

void FrameBuffer::WriteStamp() {
    if (sizeY_ < 16) return;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const uint64_t ns = static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
    for (int i = 0; i < 8; ++i) y_[8 + i] = static_cast<uint8_t>(ns >> (8 * i));
}

void FrameBuffer::FillPattern(uint64_t n) {
    const int width = std::max(0, std::min(spec_.width, spec_.strideY));
    const int height = spec_.height;
    if (width <= 0 || height <= 0 || sizeY_ <= 0) return;
    const int chromaRows = height / 2;
    const int chromaWidthU = std::min((width + 1) / 2, spec_.strideU);
    const int chromaWidthV = std::min((width + 1) / 2, spec_.strideV);

    auto paint = [&](int x0, int y0, int x1, int y1, Colour colour) {
        x0 = std::max(x0, 0);
        y0 = std::max(y0, 0);
        x1 = std::min(x1, width);
        y1 = std::min(y1, height);
        for (int row = y0; row < y1; ++row) {
            std::memset(y_.data() + static_cast<size_t>(row) * spec_.strideY + x0, colour.y,
                        static_cast<size_t>(std::max(0, x1 - x0)));
        }
        for (int row = y0 / 2; row < std::min((y1 + 1) / 2, chromaRows); ++row) {
            for (int col = x0 / 2; col < (x1 + 1) / 2; ++col) {
                if (col < chromaWidthU) u_[static_cast<size_t>(row) * spec_.strideU + col] = colour.u;
                if (col < chromaWidthV) v_[static_cast<size_t>(row) * spec_.strideV + col] = colour.v;
            }
        }
    };

    for (int bar = 0; bar < 8; ++bar) paint(bar * width / 8, 0, (bar + 1) * width / 8, height, kBars[bar]);

    // The square crosses the picture left to right and bounces up and down.
    const int side = std::max(8, height / 6);
    const int travelX = std::max(1, width - side);
    const int travelY = std::max(1, height - side);
    const int x = static_cast<int>((n * 6) % static_cast<uint64_t>(travelX));
    const uint64_t phase = (n * 4) % (2 * static_cast<uint64_t>(travelY));
    const int y = static_cast<int>(phase < static_cast<uint64_t>(travelY) ? phase : 2 * travelY - phase);
    paint(x, y, x + side, y + side, kSquare);

    // The frame counter in white digits on a black box, top left.
    const std::string digits = std::to_string(n);
    const int cell = 4 * kDigitScale;
    paint(0, 0, static_cast<int>(digits.size()) * cell + kDigitScale, 7 * kDigitScale, kBars[7]);
    for (size_t d = 0; d < digits.size(); ++d) {
        const uint16_t glyph = kDigitFont[digits[d] - '0'];
        for (int gy = 0; gy < 5; ++gy) {
            for (int gx = 0; gx < 3; ++gx) {
                if ((glyph >> ((4 - gy) * 3 + (2 - gx))) & 1) {
                    const int px = kDigitScale + static_cast<int>(d) * cell + gx * kDigitScale;
                    const int py = kDigitScale + gy * kDigitScale;
                    paint(px, py, px + kDigitScale, py + kDigitScale, kBars[0]);
                }
            }
        }
    }
}

Api::StreamInfo FrameBuffer::Info(const std::string& key, int64_t timestamp) {
    Api::StreamInfo info{};
    info.streamKey = key.c_str();
    info.streamKeyLength = static_cast<int32_t>(key.size());
    info.width = spec_.width;
    info.height = spec_.height;
    info.rotation = spec_.rotation;
    info.dataY = spec_.nullY ? nullptr : y_.data();
    info.strideY = spec_.strideY;
    info.dataU = spec_.nullU ? nullptr : u_.data();
    info.strideU = spec_.strideU;
    info.dataV = spec_.nullV ? nullptr : v_.data();
    info.strideV = spec_.strideV;
    info.timestamp = timestamp;
    return info;
}

}  // namespace kova_standin

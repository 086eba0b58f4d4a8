#include "camera/apsframe.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace vexadin {

namespace {

// calloc: a fresh frame is black without touching its pages (a 3840 x 2160 frame is
// 24.9 MB; the kernel hands out zeroed pages on first write).
std::shared_ptr<uint8_t[]> allocatePixels(size_t size)
{
    if (size == 0)
        return nullptr;
    auto *p = static_cast<uint8_t *>(std::calloc(size, 1));
    if (!p)
        throw std::bad_alloc();
    return std::shared_ptr<uint8_t[]>(p, [](uint8_t *q) { std::free(q); });
}

} // namespace

ApsFrame::ApsFrame(uint16_t width, uint16_t height, uint64_t frameNumber, uint64_t timestamp)
    : width_(width), height_(height), frameNumber_(frameNumber), timestamp_(timestamp),
      pixels_(allocatePixels(size_t(width) * height * 3))
{
}

ApsFrame::ApsFrame(ApsFrame &&other) noexcept
    : width_(std::exchange(other.width_, 0)), height_(std::exchange(other.height_, 0)),
      frameNumber_(std::exchange(other.frameNumber_, 0)), timestamp_(std::exchange(other.timestamp_, 0)),
      pixels_(std::move(other.pixels_))
{
}

ApsFrame &ApsFrame::operator=(ApsFrame &&other) noexcept
{
    if (this != &other) {
        width_ = std::exchange(other.width_, 0);
        height_ = std::exchange(other.height_, 0);
        frameNumber_ = std::exchange(other.frameNumber_, 0);
        timestamp_ = std::exchange(other.timestamp_, 0);
        pixels_ = std::move(other.pixels_);
    }
    return *this;
}

ApsFrame ApsFrame::clone() const
{
    ApsFrame copy;
    copy.width_ = width_;
    copy.height_ = height_;
    copy.frameNumber_ = frameNumber_;
    copy.timestamp_ = timestamp_;
    if (pixels_) {
        // malloc, not calloc: every byte is overwritten at once.
        auto *p = static_cast<uint8_t *>(std::malloc(getDataSize()));
        if (!p)
            throw std::bad_alloc();
        std::memcpy(p, pixels_.get(), getDataSize());
        copy.pixels_ = std::shared_ptr<uint8_t[]>(p, [](uint8_t *q) { std::free(q); });
    }
    return copy;
}

} // namespace vexadin

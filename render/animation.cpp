#include "render/animation.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <numeric>

namespace render {
namespace {

constexpr size_t kFrameControlSize = 26;
constexpr size_t kDelayAt = 20;  // delay_num within a frame control
constexpr uint32_t kMaxChunk = 0x7FFFFFFF;

unsigned char* put16(unsigned char* at, uint16_t value) {
    *at++ = static_cast<unsigned char>(value >> 8);
    *at++ = static_cast<unsigned char>(value);
    return at;
}

uint32_t get32(const unsigned char* at) {
    return uint32_t{at[0]} << 24 | uint32_t{at[1]} << 16 | uint32_t{at[2]} << 8 | at[3];
}

// The image data of a PNG that encode_png made, its IDAT chunks joined: one
// zlib stream, which a frame carries as one chunk. `into` keeps its first
// four bytes for a sequence number.
void take_image_data(const std::vector<unsigned char>& png, std::vector<unsigned char>& into) {
    into.resize(4);
    for (size_t at = sizeof kPngSignature; at + 12 <= png.size();) {
        const uint32_t length = get32(&png[at]);
        if (length > png.size() - at - 12) break;
        if (std::memcmp(&png[at + 4], "IDAT", 4) == 0)
            into.insert(into.end(), png.data() + at + 8, png.data() + at + 8 + length);
        at += 12 + size_t{length};
    }
}

// The box of pixels where `image` differs from `previous`; width 0 when
// nothing changed.
PixelRect changed_box(const Image& image, const std::vector<uint32_t>& previous) {
    const int width = image.width();
    const size_t row_bytes = static_cast<size_t>(width) * 4;
    int left = width, right = -1, top = -1, bottom = -1;
    for (int y = 0; y < image.height(); ++y) {
        const auto* now = reinterpret_cast<const uint32_t*>(image.data() + static_cast<size_t>(image.stride()) * y);
        const uint32_t* before = &previous[static_cast<size_t>(y) * width];
        if (std::memcmp(now, before, row_bytes) == 0) continue;
        int first = 0, last = width - 1;
        while (now[first] == before[first]) ++first;
        while (now[last] == before[last]) --last;
        left = std::min(left, first);
        right = std::max(right, last);
        if (top < 0) top = y;
        bottom = y;
    }
    if (top < 0) return PixelRect{};
    return PixelRect{left, top, right - left + 1, bottom - top + 1};
}

}  // namespace

FrameDelay FrameDelay::milliseconds(int ms) {
    if (ms < 1 || ms > 65535) throw RenderError("a frame delay of " + std::to_string(ms) + " ms is not 1 to 65535 ms");
    // In lowest terms, so that the delays of unchanged frames can be summed
    // into one frame for longer.
    const int common = std::gcd(ms, 1000);
    return FrameDelay{static_cast<uint16_t>(ms / common), static_cast<uint16_t>(1000 / common)};
}

AnimationWriter::AnimationWriter(const std::string& path, int width, int height, FrameDelay delay, uint32_t plays)
    : path_(path), width_(width), height_(height), delay_(delay), plays_(plays) {
    if (width <= 0 || height <= 0 || delay.numerator == 0 || delay.denominator == 0) {
        throw RenderError(path + ": an animation of " + std::to_string(width) + " x " + std::to_string(height) +
                          " with frames of " + std::to_string(delay.numerator) + "/" +
                          std::to_string(delay.denominator) + " s cannot be made");
    }
    previous_.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
    try {
        output_ = std::make_unique<platform::OutputFile>(path);
    } catch (const std::runtime_error& error) {
        fail(std::string("cannot create the animation (") + error.what() + ")");
    }
    unsigned char header[13] = {};
    put_be32(put_be32(header, static_cast<uint32_t>(width)), static_cast<uint32_t>(height));
    header[8] = 8;  // bits per channel
    header[9] = 6;  // RGBA
    write_bytes(kPngSignature, sizeof kPngSignature);
    write_chunk("IHDR", header, sizeof header);
    actl_offset_ = static_cast<long>(sizeof kPngSignature + 12 + sizeof header);
    const unsigned char control[8] = {};  // filled in by finish(), when the frame count is known
    write_chunk("acTL", control, sizeof control);
}

AnimationWriter::~AnimationWriter() { abandon(); }

void AnimationWriter::abandon() noexcept { output_.reset(); }

void AnimationWriter::fail(const std::string& what) { throw RenderError(path_ + ": " + what); }

void AnimationWriter::write_chunk(const char type[4], const unsigned char* data, size_t size) {
    if (size > kMaxChunk) fail("a frame too large for a PNG chunk");
    unsigned char head[8];
    std::memcpy(put_be32(head, static_cast<uint32_t>(size)), type, 4);
    unsigned char tail[4];
    put_be32(tail, chunk_crc(type, data, size));
    write_bytes(head, sizeof head);
    write_bytes(data, size);
    write_bytes(tail, sizeof tail);
}

// A file that could not be written is removed at once: it would not be a
// picture, and a half-written chunk cannot be resumed.
void AnimationWriter::write_bytes(const void* data, size_t size) {
    if (size == 0 || std::fwrite(data, 1, size, output_->file()) == size) return;
    const int error = errno;
    abandon();
    fail("cannot write the animation (" + std::string(std::strerror(error)) + ")");
}

void AnimationWriter::patch(long offset, const char type[4], const unsigned char* data, size_t size) {
    if (std::fseek(output_->file(), offset, SEEK_SET) != 0) fail("cannot go back in the animation");
    write_chunk(type, data, size);
    if (std::fseek(output_->file(), 0, SEEK_END) != 0) fail("cannot go back to the end of the animation");
}

void AnimationWriter::write_frame_control(const PixelRect& box, bool over) {
    unsigned char* at = put_be32(last_fctl_, sequence_++);
    for (int value : {box.width, box.height, box.x, box.y}) at = put_be32(at, static_cast<uint32_t>(value));
    at = put16(put16(at, delay_.numerator), delay_.denominator);
    at[0] = 0;             // dispose NONE: the next frame draws over this one
    at[1] = over ? 1 : 0;  // blend OVER: laid over what was there; SOURCE: replaces it
    last_fctl_offset_ = std::ftell(output_->file());
    if (last_fctl_offset_ < 0) fail("cannot tell where the animation ends");
    last_fctl_repeats_ = 1;
    ++frames_written_;
    write_chunk("fcTL", last_fctl_, kFrameControlSize);
}

void AnimationWriter::add(const Image& image) {
    if (output_ == nullptr) fail(finished_ ? "the animation is already finished" : "the animation was not completed");
    if (image.width() != width_ || image.height() != height_) {
        fail("a frame of " + std::to_string(image.width()) + " x " + std::to_string(image.height()) +
             " in an animation of " + std::to_string(width_) + " x " + std::to_string(height_));
    }
    try {
        add_checked(image);
    } catch (...) {
        // The file no longer shows what the writer last kept: no later frame
        // could be right.
        abandon();
        throw;
    }
}

void AnimationWriter::add_checked(const Image& image) {
    PixelRect box{0, 0, width_, height_};
    if (frames_added_ == 0) {
        for (int y = 0; y < height_; ++y) {
            std::memcpy(&previous_[static_cast<size_t>(y) * width_],
                        image.data() + static_cast<size_t>(image.stride()) * y, static_cast<size_t>(width_) * 4);
        }
    } else {
        box = changed_box(image, previous_);
        if (box.width == 0) {
            extend_last_delay_or_repeat(image);
            ++frames_added_;
            return;
        }
    }
    write_frame(image, box);
    ++frames_added_;
}

// Inside the box, the pixels that did not change become transparent and the
// frame is laid over the one before: a needle's sweep costs its own pixels,
// not the dial's between. A change to a pixel that is not opaque cannot be
// laid over, and that frame replaces its box instead.
void AnimationWriter::write_frame(const Image& image, const PixelRect& box) {
    bool over = frames_written_ > 0;
    if (over) {
        Image changes(box.width, box.height);
        auto* out = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(changes.surface()));
        const int out_stride = changes.stride() / 4;
        for (int y = 0; y < box.height && over; ++y) {
            const auto* now =
                reinterpret_cast<const uint32_t*>(image.data() + static_cast<size_t>(image.stride()) * (box.y + y)) +
                box.x;
            const uint32_t* before = &previous_[static_cast<size_t>(box.y + y) * width_ + box.x];
            for (int x = 0; x < box.width; ++x) {
                if (now[x] == before[x]) continue;
                if ((now[x] >> 24) != 0xFF) over = false;
                out[y * out_stride + x] = now[x];
            }
        }
        cairo_surface_mark_dirty(changes.surface());
        encoded_.clear();
        if (over)
            encode_png(changes, PixelRect{0, 0, box.width, box.height}, PngEffort::kFast, encoded_, PngAlpha::kAlways);
    }
    if (!over) {
        encoded_.clear();
        encode_png(image, box, PngEffort::kFast, encoded_, PngAlpha::kAlways);
    }
    for (int y = 0; y < box.height; ++y) {
        std::memcpy(&previous_[static_cast<size_t>(box.y + y) * width_ + box.x],
                    image.data() + static_cast<size_t>(image.stride()) * (box.y + y) + size_t{4} * box.x,
                    size_t{4} * box.width);
    }
    take_image_data(encoded_, payload_);
    write_frame_control(box, over);
    if (frames_written_ == 1) {
        write_chunk("IDAT", payload_.data() + 4, payload_.size() - 4);
    } else {
        put_be32(payload_.data(), sequence_++);
        write_chunk("fdAT", payload_.data(), payload_.size());
    }
}

// An unchanged picture stays on screen longer; once the delay no longer fits
// its field, a one-pixel frame of the same pixel carries the time.
void AnimationWriter::extend_last_delay_or_repeat(const Image& image) {
    const uint32_t longer = (last_fctl_repeats_ + 1) * uint32_t{delay_.numerator};
    if (longer <= 0xFFFF) {
        ++last_fctl_repeats_;
        put16(last_fctl_ + kDelayAt, static_cast<uint16_t>(longer));
        patch(last_fctl_offset_, "fcTL", last_fctl_, kFrameControlSize);
        return;
    }
    write_frame(image, PixelRect{0, 0, 1, 1});
}

void AnimationWriter::finish() {
    if (output_ == nullptr) fail(finished_ ? "the animation is already finished" : "the animation was not completed");
    if (frames_written_ == 0) fail("an animation needs at least one frame");
    write_chunk("IEND", nullptr, 0);
    unsigned char control[8];
    put_be32(put_be32(control, frames_written_), plays_);
    patch(actl_offset_, "acTL", control, sizeof control);
    try {
        output_->commit();
        output_.reset();
    } catch (const platform::OutputFileError& error) {
        output_.reset();
        fail(std::string("cannot complete the animation (") + error.what() + ")");
    }
    finished_ = true;
}

}  // namespace render

// An animated PNG written frame by frame, so that a long flight never holds
// more than the previous picture in memory. Browsers play it; a viewer
// without animation support shows the first frame.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/output_file.h"
#include "render/image.h"
#include "render/png.h"

namespace render {

// How long each frame stays: numerator / denominator seconds.
struct FrameDelay {
    uint16_t numerator = 1;
    uint16_t denominator = 10;

    // Throws RenderError unless 1 <= ms <= 65535.
    static FrameDelay milliseconds(int ms);
};

class AnimationWriter {
public:
    // Starts the file (under a temporary name); `plays` 0 loops for ever.
    // Throws RenderError naming the file when it cannot be created (a path
    // platform::check_output_path refuses among them), or for a size or delay
    // of zero.
    AnimationWriter(const std::string& path, int width, int height, FrameDelay delay, uint32_t plays = 0);
    // An animation never finished is removed: without its frame count it is
    // not a valid picture.
    ~AnimationWriter();
    AnimationWriter(const AnimationWriter&) = delete;
    AnimationWriter& operator=(const AnimationWriter&) = delete;

    // Appends a frame: the first in full, each later one as the box of pixels
    // that changed since the one before, laid over it with the unchanged
    // pixels transparent; an unchanged picture makes the frame before last
    // longer. A picture of another size than the animation's
    // throws RenderError naming the file and is left out; any other failure
    // throws too, and removes the file, which takes no more frames.
    void add(const Image& image);
    // Writes the frame count and closes the file. Throws RenderError when no
    // frame was added or the file cannot be completed.
    void finish();

    int frames_added() const { return frames_added_; }

private:
    void add_checked(const Image& image);
    void abandon() noexcept;
    void write_bytes(const void* data, size_t size);
    void write_chunk(const char type[4], const unsigned char* data, size_t size);
    void write_frame(const Image& image, const PixelRect& box);
    void write_frame_control(const PixelRect& box, bool over);
    void patch(long offset, const char type[4], const unsigned char* data, size_t size);
    void extend_last_delay_or_repeat(const Image& image);
    [[noreturn]] void fail(const std::string& what);

    std::string path_;
    // Written under a temporary name, renamed by finish(): an animation cut
    // short never carries its final name.
    std::unique_ptr<platform::OutputFile> output_;
    int width_;
    int height_;
    FrameDelay delay_;
    uint32_t plays_;
    int frames_added_ = 0;
    uint32_t frames_written_ = 0;
    uint32_t sequence_ = 0;
    bool finished_ = false;
    long actl_offset_ = 0;
    long last_fctl_offset_ = 0;
    unsigned char last_fctl_[26] = {};
    uint32_t last_fctl_repeats_ = 0;
    std::vector<uint32_t> previous_;      // the last frame's premultiplied pixels, rows packed
    std::vector<unsigned char> encoded_;  // scratch: one frame's PNG
    std::vector<unsigned char> payload_;  // scratch: its image data behind a sequence number
};

}  // namespace render

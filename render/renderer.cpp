#include "render/renderer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <string>

#include "render/drawing.h"
#include "runtime/dib.h"

namespace render {

// --- Gauges and panels -------------------------------------------------------------

std::pair<uint32_t, uint32_t> gauge_extent(const runtime::GaugeInstance& instance, BitmapCache& bitmaps) {
    if (const std::optional<runtime::Background>& background = instance.background()) {
        // The surface drawn anyway.
        const Look look = black_is_clear(background->image_flags) ? Look::Overlay : Look::Opaque;
        if (cairo_surface_t* root = bitmaps.surface(background->resource_id, look)) {
            return {static_cast<uint32_t>(cairo_image_surface_get_width(root)),
                    static_cast<uint32_t>(cairo_image_surface_get_height(root))};
        }
    }
    return {kFallbackExtent, kFallbackExtent};
}

namespace {

// The elements from `from` on; `at_split` is called before element `split`
// is drawn (or after the last, when `split` is their count). Drawing a gauge
// in two such parts gives the same pixels as in one: each element's drawing
// leaves the context as it found it.
template <typename AtSplit>
void draw_gauge_from(cairo_t* cr, const runtime::GaugeInstance& instance, BitmapCache& bitmaps, size_t from,
                     size_t split, AtSplit&& at_split, const FloodLight* light = nullptr) {
    const bool night = instance.host().night();
    const auto [width, height] = gauge_extent(instance, bitmaps);
    cairo_save(cr);
    cairo_rectangle(cr, 0.0, 0.0, width, height);
    cairo_clip(cr);
    const std::vector<runtime::ElementState>& elements = instance.elements();
    // Elements [begin, end): as by day, or at night lit or their glow (a
    // lamp, which lights itself, is its own glow and a shadow when lit).
    const auto draw_range = [&](size_t begin, size_t end, Shade shade) {
        for (size_t i = begin; i < end; ++i) {
            if (!elements[i].visible) continue;
            const Placement& placed = elements[i].placement;
            const bool lights_itself = (placed.image_flags & kImageBright) != 0;
            const Shade own = !lights_itself                    ? shade
                              : shade == Shade::kPaint && night ? Shade::kShadow
                                                                : Shade::kPaint;
            draw_element(Context{cr, bitmaps, static_cast<double>(width), own}, elements[i], placed);
        }
    };
    const size_t count = elements.size();
    const size_t middle = std::clamp(split, from, count);
    const auto draw_part = [&](size_t begin, size_t end) {
        if (begin >= end) return;
        if (!night) {
            draw_range(begin, end, Shade::kPaint);
            return;
        }
        composite_at_night(
            cr, light, [&] { draw_range(begin, end, Shade::kPaint); }, [&] { draw_range(begin, end, Shade::kGlow); });
    };
    try {
        draw_part(from, middle);
        if (split >= from && split <= count) at_split();
        draw_part(middle, count);
    } catch (...) {
        cairo_restore(cr);
        throw;
    }
    cairo_restore(cr);
}

}  // namespace

int element_at(const runtime::GaugeInstance& instance, BitmapCache& bitmaps, double x, double y) {
    const auto [width, height] = gauge_extent(instance, bitmaps);
    if (!(x >= 0.0 && y >= 0.0 && x < width && y < height)) return -1;
    const Context context{nullptr, bitmaps, static_cast<double>(width)};
    const std::vector<runtime::ElementState>& elements = instance.elements();
    for (size_t i = elements.size(); i-- > 0;) {
        if (elements[i].visible && shows_at(context, elements[i], elements[i].placement, x, y))
            return static_cast<int>(i);
    }
    return -1;
}

void draw_gauge(cairo_t* cr, const runtime::GaugeInstance& instance, BitmapCache& bitmaps) {
    draw_gauge_from(cr, instance, bitmaps, 0, SIZE_MAX, [] {});
}

namespace {

// A picture side in whole pixels; checked in double, before it becomes an int.
int pixels(double extent) {
    const double rounded = std::ceil(extent - 1e-9);
    if (!(rounded <= panels::Panel::kMaxPicturePixels)) {
        throw RenderError("a picture " + std::to_string(extent) + " pixels across; at most " +
                          std::to_string(panels::Panel::kMaxPicturePixels) + " can be drawn");
    }
    return rounded < 1.0 ? 1 : static_cast<int>(rounded);
}

std::string gauge_name(const runtime::GaugeInstance& instance) {
    return instance.name().empty() ? "(unnamed)" : instance.name();
}

// Draws one gauge through a context of its own, so that a gauge whose
// records drive cairo into its error state (which sticks to the context)
// spoils no other. Returns the context's status; a GaugeFault passes through.
template <typename Draw>
cairo_status_t draw_alone(cairo_surface_t* surface, Draw&& draw) {
    const std::unique_ptr<cairo_t, void (*)(cairo_t*)> cr(cairo_create(surface), cairo_destroy);
    draw(cr.get());
    return cairo_status(cr.get());
}

// --- What render_frame() keeps --------------------------------------------------------

// Everything the drawing of an element reads, as words: two elements with the
// same words are drawn alike. A hidden element is drawn as nothing, whatever
// its other fields say.
constexpr size_t kKeyWords = 15;

uint64_t bits_of(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

uint64_t pair_of(uint32_t high, uint32_t low) { return static_cast<uint64_t>(high) << 32 | low; }

void append_key(std::vector<uint64_t>& keys, const runtime::ElementState& state) {
    const size_t at = keys.size();
    keys.resize(at + kKeyWords, 0);
    uint64_t* key = keys.data() + at;
    key[0] = state.element.address;
    key[1] = state.visible;
    if (!state.visible) return;
    const Placement& e = state.placement;
    key[1] |= pair_of(state.type, state.greyed ? 2u : 0u) | static_cast<uint64_t>(state.depth == 0) << 2;
    key[2] = pair_of(state.resource_id, e.image_flags);
    key[3] = pair_of(static_cast<uint32_t>(e.position_x), static_cast<uint32_t>(e.position_y));
    key[4] = pair_of(static_cast<uint32_t>(e.ofs_x), static_cast<uint32_t>(e.ofs_y));
    key[5] = bits_of(state.angle);
    key[6] = bits_of(state.x);
    key[7] = bits_of(state.y);
    key[8] = bits_of(state.offset_x);
    key[9] = bits_of(state.offset_y);
    key[10] = bits_of(state.shift_x);
    key[11] = bits_of(state.shift_y);
    key[12] = bits_of(state.rotation);
    if (state.type == kSprite) {
        key[13] = bits_of(e.texture_scale_x);
        key[14] = bits_of(e.texture_scale_y);
    }
}

// The gauge's keys: its extent first, then one key per element.
void gauge_keys(const runtime::GaugeInstance& instance, BitmapCache& bitmaps, std::vector<uint64_t>& keys) {
    keys.clear();
    const auto [width, height] = gauge_extent(instance, bitmaps);
    keys.push_back(pair_of(width, height));
    for (const runtime::ElementState& state : instance.elements()) append_key(keys, state);
}

// The first element drawn differently from `before` (their count when none).
size_t first_change(const std::vector<uint64_t>& before, const std::vector<uint64_t>& now) {
    if (before.empty() || before[0] != now[0]) return 0;
    const size_t common = std::min(before.size(), now.size());
    size_t word = 1;
    while (word < common && before[word] == now[word]) ++word;
    if (word == before.size() && word == now.size()) return (now.size() - 1) / kKeyWords;
    return (word - 1) / kKeyWords;
}

// The pixels of a gauge's rectangle: every pixel its clip may touch, within the picture.
PixelRect gauge_rect(const panels::Panel::Gauge& gauge, const Image& image) {
    const double left = std::max(0.0, std::floor(gauge.left)), top = std::max(0.0, std::floor(gauge.top));
    const double right = std::min<double>(image.width(), std::ceil(gauge.left + gauge.width));
    const double bottom = std::min<double>(image.height(), std::ceil(gauge.top + gauge.height));
    if (!(right > left && bottom > top)) return {};
    return {static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
            static_cast<int>(bottom - top)};
}

PixelRect window_rect(const panels::Panel::Window& window) {
    const double left = std::floor(window.left), top = std::floor(window.top);
    return {static_cast<int>(left), static_cast<int>(top),
            static_cast<int>(std::ceil(window.left + window.width) - left),
            static_cast<int>(std::ceil(window.top + window.height) - top)};
}

bool overlap(const PixelRect& a, const PixelRect& b) {
    return a.width > 0 && a.height > 0 && b.width > 0 && b.height > 0 && a.x < b.x + b.width && b.x < a.x + a.width &&
           a.y < b.y + b.height && b.y < a.y + a.height;
}

void copy_out(const Image& image, const PixelRect& rect, std::vector<uint32_t>& pixels) {
    cairo_surface_flush(image.surface());
    pixels.resize(static_cast<size_t>(rect.width) * static_cast<size_t>(rect.height));
    const unsigned char* data = cairo_image_surface_get_data(image.surface());
    const size_t row_bytes = 4 * static_cast<size_t>(rect.width);
    for (int y = 0; y < rect.height; ++y) {
        std::memcpy(pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(rect.width),
                    data + static_cast<size_t>(rect.y + y) * static_cast<size_t>(image.stride()) +
                        4 * static_cast<size_t>(rect.x),
                    row_bytes);
    }
}

void copy_in(const Image& image, const PixelRect& rect, const std::vector<uint32_t>& pixels) {
    cairo_surface_flush(image.surface());
    unsigned char* data = cairo_image_surface_get_data(image.surface());
    const size_t row_bytes = 4 * static_cast<size_t>(rect.width);
    for (int y = 0; y < rect.height; ++y) {
        std::memcpy(data + static_cast<size_t>(rect.y + y) * static_cast<size_t>(image.stride()) +
                        4 * static_cast<size_t>(rect.x),
                    pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(rect.width), row_bytes);
    }
    cairo_surface_mark_dirty_rectangle(image.surface(), rect.x, rect.y, rect.width, rect.height);
}

void throw_if_failed(cairo_status_t status, const runtime::GaugeInstance& instance) {
    if (status != CAIRO_STATUS_SUCCESS) {
        throw RenderError("gauge '" + gauge_name(instance) + "' cannot be drawn: " + cairo_status_to_string(status));
    }
}

}  // namespace

Image render_gauge(const runtime::GaugeInstance& instance, BitmapCache& bitmaps) {
    const auto [width, height] = gauge_extent(instance, bitmaps);
    const double scale = instance.scale();
    Image image(pixels(width * scale), pixels(height * scale));
    throw_if_failed(draw_alone(image.surface(),
                               [&](cairo_t* cr) {
                                   cairo_scale(cr, scale, scale);
                                   draw_gauge(cr, instance, bitmaps);
                               }),
                    instance);
    return image;
}

BitmapCache& PanelRenderer::bitmaps(const runtime::Module& module) {
    std::unique_ptr<BitmapCache>& cache = caches_[&module];
    if (!cache) cache = std::make_unique<BitmapCache>(module);
    return *cache;
}

PanelRenderer::PanelRenderer(const panels::Panel& panel) : panel_(panel) {}

PanelRenderer::~PanelRenderer() {
    for (auto& [picture, surface] : backgrounds_) {
        if (surface != nullptr) cairo_surface_destroy(surface);
    }
}

namespace {

// A background that lies on whole pixels at its own size is its pixels over
// the window's paint, black left out: what painting its surface would give,
// without a surface of the picture's size to make and fill first.
bool copy_background(cairo_t* cr, const panels::Panel::Window& window, const runtime::Picture& picture) {
    cairo_surface_t* target = cairo_get_target(cr);
    const int width = cairo_image_surface_get_width(target), height = cairo_image_surface_get_height(target);
    const double left = std::floor(window.left), top = std::floor(window.top);
    if (left != window.left || top != window.top || window.width != picture.width ||
        window.height != picture.height || left < 0.0 || top < 0.0 || left + picture.width > width ||
        top + picture.height > height || cairo_status(cr) != CAIRO_STATUS_SUCCESS) {
        return false;
    }
    cairo_matrix_t matrix;
    cairo_get_matrix(cr, &matrix);
    if (matrix.xx != 1.0 || matrix.yy != 1.0 || matrix.xy != 0.0 || matrix.yx != 0.0 || matrix.x0 != 0.0 ||
        matrix.y0 != 0.0) {
        return false;
    }
    cairo_surface_flush(target);
    unsigned char* data = cairo_image_surface_get_data(target);
    const auto stride = static_cast<size_t>(cairo_image_surface_get_stride(target));
    const auto x0 = static_cast<size_t>(left);
    for (uint32_t y = 0; y < picture.height; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(data + stride * (static_cast<size_t>(top) + y)) + x0;
        const uint32_t* from = &picture.rgb[size_t{y} * picture.width];
        for (uint32_t x = 0; x < picture.width; ++x) {
            const uint32_t rgb = from[x] & 0xFFFFFFu;
            if (rgb != 0) row[x] = 0xFF000000u | rgb;
        }
    }
    cairo_surface_mark_dirty_rectangle(target, static_cast<int>(left), static_cast<int>(top),
                                       static_cast<int>(picture.width), static_cast<int>(picture.height));
    return true;
}

}  // namespace

void PanelRenderer::draw_window(cairo_t* cr, const panels::Panel::Window& window) {
    set_colour(cr, window.config->background);
    cairo_rectangle(cr, window.left, window.top, window.width, window.height);
    cairo_fill(cr);
    const runtime::Picture* picture = window.background.get();
    if (picture == nullptr) return;
    if (copy_background(cr, window, *picture)) return;
    auto found = backgrounds_.find(picture);
    if (found == backgrounds_.end()) found = backgrounds_.emplace(picture, make_surface(*picture, Look::Overlay)).first;
    if (found->second == nullptr) return;
    // Stretched over the window; its pure black shows the window's paint.
    cairo_save(cr);
    cairo_rectangle(cr, window.left, window.top, window.width, window.height);
    cairo_clip(cr);
    cairo_translate(cr, window.left, window.top);
    cairo_scale(cr, window.width / picture->width, window.height / picture->height);
    paint_at(cr, found->second, 0.0, 0.0);
    cairo_restore(cr);
}

// The window's paint and background under the flood light.
void PanelRenderer::light_window(cairo_t* cr, const panels::Panel::Window& window) {
    if (!panel_.host().night()) return;
    cairo_save(cr);
    cairo_rectangle(cr, window.left, window.top, window.width, window.height);
    cairo_clip(cr);
    light_by_night(cr, light_.get());
    cairo_restore(cr);
}

void PanelRenderer::draw_title(cairo_t* cr, const panels::Panel::Window& window) {
    const std::string& title = window.config->title;
    if (title.empty()) return;
    constexpr double kTextSize = 13.0, kPad = 4.0;
    cairo_save(cr);
    cairo_rectangle(cr, window.left, window.top, window.width, window.height);
    cairo_clip(cr);
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cr, kTextSize);
    cairo_text_extents_t extents;
    cairo_text_extents(cr, title.c_str(), &extents);
    cairo_set_source_rgba(cr, 0.0, 0.0, 0.0, 0.75);
    cairo_rectangle(cr, window.left, window.top, extents.x_advance + 2 * kPad, kTextSize + 2 * kPad);
    cairo_fill(cr);
    cairo_set_source_rgb(cr, 1.0, 0.85, 0.3);
    cairo_move_to(cr, window.left + kPad, window.top + kPad + kTextSize - 2.0);
    cairo_show_text(cr, title.c_str());
    cairo_restore(cr);
}

Image PanelRenderer::render() {
    Image image(pixels(panel_.picture_width()), pixels(panel_.picture_height()));
    draw_panel(image, false);
    return image;
}

// With `keep`, each gauge's pixels are kept as render_frame() needs them.
void PanelRenderer::draw_panel(Image& image, bool keep) {
    if (panel_.host().night() && (!light_ || !light_->fits(image.width(), image.height())))
        light_ = std::make_unique<FloodLight>(image.width(), image.height());
    cairo_t* cr = cairo_create(image.surface());
    set_colour(cr, kSurroundColour);
    cairo_paint(cr);
    gauges_drawn_ = 0;
    const std::vector<panels::Panel::Gauge>& gauges = panel_.gauges();
    // Window by window, each over the ones before it, as overlapping windows
    // lie on the screen.
    for (const panels::Panel::Window& window : panel_.windows()) {
        draw_window(cr, window);
        light_window(cr, window);
        for (size_t i = 0; i < gauges.size(); ++i) {
            const panels::Panel::Gauge& gauge = gauges[i];
            if (!gauge.shown || gauge.window != window.config) continue;
            if (!keep) {
                draw_panel_gauge(image.surface(), gauge);
                continue;
            }
            Kept& kept = kept_[i];
            gauge_keys(*gauge.instance, bitmaps(*gauge.module), kept.keys);
            kept.prefix_valid = false;
            if (kept.alone) copy_out(image, kept.rect, kept.beneath);
            const size_t count = gauge.instance->elements().size();
            const cairo_status_t status = draw_gauge_part(image.surface(), i, 0, kept.alone ? count : SIZE_MAX);
            kept.drawn = status == CAIRO_STATUS_SUCCESS;
            gauge_drawn(gauge, status);
        }
        if (titles_) draw_title(cr, window);
    }
    cairo_destroy(cr);
}

// Which gauges can be drawn again by themselves: those whose pixels no other
// drawing after the windows' paint touches.
void PanelRenderer::plan_kept(const Image& image) {
    const std::vector<panels::Panel::Gauge>& gauges = panel_.gauges();
    kept_.assign(gauges.size(), Kept{});
    for (size_t i = 0; i < gauges.size(); ++i) {
        if (gauges[i].shown) kept_[i].rect = gauge_rect(gauges[i], image);
    }
    for (size_t i = 0; i < gauges.size(); ++i) {
        const panels::Panel::Gauge& gauge = gauges[i];
        if (!gauge.shown) continue;
        bool alone = !(titles_ && !gauge.window->title.empty());
        for (size_t j = 0; j < gauges.size() && alone; ++j) {
            if (j != i && gauges[j].shown && overlap(kept_[i].rect, kept_[j].rect)) alone = false;
        }
        // Windows painted after the gauge's own.
        bool later = false;
        for (const panels::Panel::Window& window : panel_.windows()) {
            if (later && overlap(kept_[i].rect, window_rect(window))) alone = false;
            if (window.config == gauge.window) later = true;
        }
        kept_[i].alone = alone;
    }
}

const Image& PanelRenderer::render_frame() {
    const int width = pixels(panel_.picture_width()), height = pixels(panel_.picture_height());
    changed_.clear();
    if (!frame_ || frame_->width() != width || frame_->height() != height || frame_titles_ != titles_ ||
        frame_night_ != panel_.host().night()) {
        frame_ = std::make_unique<Image>(width, height);
        frame_titles_ = titles_;
        frame_night_ = panel_.host().night();
        plan_kept(*frame_);
        draw_panel(*frame_, true);
        changed_.push_back({0, 0, width, height});
        return *frame_;
    }
    // The gauges to draw again, each with its first element drawn differently.
    std::vector<std::pair<size_t, size_t>> redraw;
    std::vector<uint64_t> keys;
    const std::vector<panels::Panel::Gauge>& gauges = panel_.gauges();
    for (size_t i = 0; i < gauges.size(); ++i) {
        if (!gauges[i].shown) continue;
        gauge_keys(*gauges[i].instance, bitmaps(*gauges[i].module), keys);
        const size_t first = first_change(kept_[i].keys, keys);
        if (first == gauges[i].instance->elements().size() && keys.size() == kept_[i].keys.size()) continue;
        if (!kept_[i].alone) {
            draw_panel(*frame_, true);
            changed_.push_back({0, 0, width, height});
            return *frame_;
        }
        kept_[i].keys.swap(keys);
        redraw.emplace_back(i, first);
    }
    for (const auto& [index, first] : redraw) {
        if (redraw_kept(index, first)) changed_.push_back(kept_[index].rect);
    }
    return *frame_;
}

// Draws a kept gauge again from its first changed element: over the pixels
// after the elements before it where those are kept, else over what lies
// beneath the gauge. Returns whether any pixel may have changed.
bool PanelRenderer::redraw_kept(size_t index, size_t first_changed) {
    Kept& kept = kept_[index];
    if (kept.rect.width == 0) return false;
    size_t from = 0, split = first_changed;
    if (kept.prefix_valid && first_changed >= kept.prefix_length) {
        copy_in(*frame_, kept.rect, kept.prefix);
        from = kept.prefix_length;
        split = SIZE_MAX;
    } else {
        copy_in(*frame_, kept.rect, kept.beneath);
        kept.prefix_valid = false;
    }
    const cairo_status_t status = draw_gauge_part(frame_->surface(), index, from, split);
    const bool drawn = status == CAIRO_STATUS_SUCCESS;
    if (drawn && !kept.drawn) ++gauges_drawn_;
    if (!drawn && kept.drawn) --gauges_drawn_;
    kept.drawn = drawn;
    if (!drawn) gauge_drawn(panel_.gauges()[index], status);
    return true;
}

// Elements from `from` on of one gauge, through a context of its own; for a
// kept gauge, the pixels before element `split` are kept as its prefix.
cairo_status_t PanelRenderer::draw_gauge_part(cairo_surface_t* surface, size_t index, size_t from, size_t split) {
    const panels::Panel::Gauge& gauge = panel_.gauges()[index];
    return draw_alone(surface, [&](cairo_t* cr) {
        cairo_rectangle(cr, gauge.left, gauge.top, gauge.width, gauge.height);
        cairo_clip(cr);
        cairo_translate(cr, gauge.left, gauge.top);
        cairo_scale(cr, gauge.scale_x(), gauge.scale_y());
        draw_gauge_from(
            cr, *gauge.instance, bitmaps(*gauge.module), from, split,
            [&] {
                Kept& kept = kept_[index];
                // A context in error draws nothing more: what follows is not
                // what the next frame would draw over these pixels.
                kept.prefix_valid = cairo_status(cr) == CAIRO_STATUS_SUCCESS;
                kept.prefix_length = split;
                if (kept.prefix_valid) copy_out(*frame_, kept.rect, kept.prefix);
            },
            light_.get());
    });
}

// Each gauge through its own context: records cairo cannot follow put a
// context into an error that sticks, and must spoil no other gauge.
void PanelRenderer::draw_panel_gauge(cairo_surface_t* surface, const panels::Panel::Gauge& gauge) {
    const cairo_status_t status = draw_alone(surface, [&](cairo_t* cr) {
        cairo_rectangle(cr, gauge.left, gauge.top, gauge.width, gauge.height);
        cairo_clip(cr);
        cairo_translate(cr, gauge.left, gauge.top);
        cairo_scale(cr, gauge.scale_x(), gauge.scale_y());
        draw_gauge_from(
            cr, *gauge.instance, bitmaps(*gauge.module), 0, SIZE_MAX, [] {}, light_.get());
    });
    gauge_drawn(gauge, status);
}

void PanelRenderer::gauge_drawn(const panels::Panel::Gauge& gauge, cairo_status_t status) {
    if (status == CAIRO_STATUS_SUCCESS) {
        ++gauges_drawn_;
    } else {
        warnings_.push_back(panel_.config().source + ":" + std::to_string(gauge.config->line) + ": gauge '" +
                            gauge_name(*gauge.instance) + "' cannot be drawn (" + cairo_status_to_string(status) +
                            "); the picture shows it in part or not at all");
    }
}

Image PanelRenderer::render(const panels::Panel::Gauge& gauge) {
    Image image(pixels(gauge.width), pixels(gauge.height));
    throw_if_failed(draw_alone(image.surface(),
                               [&](cairo_t* cr) {
                                   cairo_scale(cr, gauge.scale_x(), gauge.scale_y());
                                   draw_gauge(cr, *gauge.instance, bitmaps(*gauge.module));
                               }),
                    *gauge.instance);
    return image;
}

std::vector<std::string> PanelRenderer::take_warnings() {
    std::vector<std::string> taken;
    taken.swap(warnings_);
    return taken;
}

}  // namespace render

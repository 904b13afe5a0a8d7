#include "host/instance.h"

#include <cmath>
#include <limits>
#include <memory>
#include <set>
#include <stdexcept>
#include <utility>

#include "frame/numbers.h"
#include "host/evaluate.h"

namespace bench {
namespace {

// Failure records read from one list at most; a list without its
// terminating record is cut there.
constexpr size_t kMaxFailureRecords = 256;
// Entries read from one element list at most.
constexpr size_t kMaxListEntries = 1024;

struct Size {
    uint32_t width = 0;
    uint32_t height = 0;
};

uint32_t scaled_extent(uint32_t extent, double scale) {
    const double scaled = std::round(static_cast<double>(extent) * scale);
    if (!(scaled > 0.0)) return 0;
    if (scaled >= 4294967295.0) return UINT32_MAX;
    return static_cast<uint32_t>(scaled);
}

int32_t to_int32(int64_t value) {
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

template <typename Record>
Record* as(ELEMENT_HEADER* element) {
    return reinterpret_cast<Record*>(element);
}

// The embedded variables the host refreshes in an element, by kind.
std::vector<MODULE_VAR*> element_variables(ELEMENT_HEADER* element) {
    switch (element->element_type) {
        case kNeedle: return {&as<ELEMENT_NEEDLE>(element)->source};
        case kSlider: return {&as<ELEMENT_SLIDER>(element)->source_x, &as<ELEMENT_SLIDER>(element)->source_y};
        case kIcon: return {&as<ELEMENT_ICON>(element)->source};
        case kMovingImage:
            return {&as<ELEMENT_MOVING_IMAGE>(element)->source_x, &as<ELEMENT_MOVING_IMAGE>(element)->source_y};
        case kSprite: {
            auto* sprite = as<ELEMENT_SPRITE>(element);
            return {&sprite->source_x, &sprite->source_y, &sprite->source_rotation};
        }
        default: return {};
    }
}

bool has_table(const ELEMENT_NEEDLE* needle) {
    return needle->nonlinearity != nullptr && needle->nonlinearity_size != 0;
}

// Where a needle stands for a value: along its scale (the domain its rate
// limit counts in) and on the screen.
struct NeedlePlace {
    double travel = 0.0;
    double angle = 0.0;
};

NeedlePlace needle_place(ELEMENT_NEEDLE* needle, double value) {
    const ELEMENT_HEADER* e = &needle->header;
    if (!has_table(needle)) return {frame::finite_or_zero(value), normalize_degrees(value)};
    return {*table_travel(needle->nonlinearity, needle->nonlinearity_size, e->position_x, e->position_y, value),
            *table_angle(needle->nonlinearity, needle->nonlinearity_size, e->position_x, e->position_y, value)};
}

// The angle of a place along the scale short of its target.
double travel_angle(const ELEMENT_NEEDLE* needle, double travel) {
    if (!has_table(needle)) return normalize_degrees(travel);
    const ELEMENT_HEADER* e = &needle->header;
    const NONLINEARITY& first = needle->nonlinearity[0];
    return normalize_degrees(direction_degrees(e->position_x, e->position_y, first.x, first.y) + travel);
}

std::optional<uint32_t> active_failure(const Host& host, const FAILURE_RECORD* list) {
    if (list == nullptr) return std::nullopt;
    for (size_t i = 0; i < kMaxFailureRecords && list[i].failure_key != 0; ++i) {
        if (host.is_failed(list[i].failure_key)) return list[i].failure_action;
    }
    return std::nullopt;
}

}  // namespace

struct GaugeInstance::Impl {
    struct Node {
        ELEMENT_HEADER* element = nullptr;
        int depth = 0;
    };
    // The host's loaded picture: displayed width, bitmap id, displayed height.
    struct Installed {
        ELEMENT_STATIC_IMAGE* element = nullptr;
        std::unique_ptr<HOST_IMAGE_PREFIX> image;
    };

    std::vector<Node> tree;              // drawing order
    std::vector<MODULE_VAR*> variables;  // embedded, token != 0
    MouseLayout mouse;
    std::map<uint32_t, std::optional<Size>> sizes;
    std::vector<Installed> installed;
    bool set_up = false;
    std::vector<bool> has_angle;  // per node: a needle angle from an earlier update
    std::vector<double> travel;   // per node: a needle's place along its scale (NeedlePlace::travel)

    // Mouse: the box held since the press, and the pointer's latest position.
    const MouseBox* held = nullptr;
    int64_t pointer_x = 0, pointer_y = 0;

    std::optional<Size> bitmap_size(const Module& module, uint32_t resource_id);
    Size root_size(const Module& module);
    void read_mouse_list(const Module& module, GAUGEHDR* gauge);
    void walk_tree(GAUGEHDR* gauge);
};

void GaugeInstance::Impl::walk_tree(GAUGEHDR* gauge) {
    if (gauge->element_list == nullptr) return;
    std::set<ELEMENT_HEADER*> seen;
    // Depth-first, each element before its list, lists in order: push the
    // entries of a list in reverse so the first comes off the stack first.
    std::vector<Node> stack;
    auto push_list = [&stack](ELEMENT_HEADER* const* list, int depth) {
        size_t count = 0;
        while (count < kMaxListEntries && list[count] != nullptr) ++count;
        for (size_t i = count; i > 0; --i) stack.push_back({list[i - 1], depth});
    };
    push_list(gauge->element_list, 0);
    while (!stack.empty() && tree.size() < GaugeInstance::kMaxElements) {
        const Node node = stack.back();
        stack.pop_back();
        if (!seen.insert(node.element).second) continue;
        tree.push_back(node);
        if (node.element->next_element_list != nullptr) push_list(node.element->next_element_list, node.depth + 1);
    }
}

std::optional<Size> GaugeInstance::Impl::bitmap_size(const Module& module, uint32_t resource_id) {
    auto found = sizes.find(resource_id);
    if (found != sizes.end()) return found->second;
    std::optional<Size> size;
    if (std::optional<Bitmap> bitmap = module.bitmap(resource_id)) size = Size{bitmap->width, bitmap->height};
    sizes.emplace(resource_id, size);
    return size;
}

Size GaugeInstance::Impl::root_size(const Module& module) {
    if (tree.empty()) return {};
    return bitmap_size(module, tree.front().element->resource_id).value_or(Size{});
}

void GaugeInstance::Impl::read_mouse_list(const Module& module, GAUGEHDR* gauge) {
    held = nullptr;
    const Size root = root_size(module);
    mouse = MouseLayout::parse(gauge->mouse_rects, root.width, root.height);
}

GaugeInstance::GaugeInstance(Host& host, const Module& module, GAUGEHDR* gauge, double scale)
    : host_(host), module_(module), gauge_(gauge), scale_(scale) {
    if (gauge == nullptr) throw std::invalid_argument("GaugeInstance: no gauge header");
    if (!(scale > 0.0 && scale <= kMaxScale)) {
        throw std::invalid_argument("GaugeInstance: display scale " + std::to_string(scale) + " out of range");
    }
    auto impl = std::make_unique<Impl>();
    impl->walk_tree(gauge);
    for (const Impl::Node& node : impl->tree) {
        for (MODULE_VAR* var : element_variables(node.element)) {
            if (var->token != 0) impl->variables.push_back(var);
        }
    }
    impl->read_mouse_list(module, gauge);
    impl_ = std::move(impl);
}

GaugeInstance::~GaugeInstance() { kill(); }

bool GaugeInstance::is_set_up() const { return impl_->set_up; }

const MouseLayout& GaugeInstance::mouse_layout() const { return impl_->mouse; }

uint32_t GaugeInstance::displayed_width() const { return scaled_extent(impl_->root_size(module_).width, scale_); }

uint32_t GaugeInstance::displayed_height() const { return scaled_extent(impl_->root_size(module_).height, scale_); }

void GaugeInstance::setup() {
    Impl& impl = *impl_;
    // Sizes may have been given to the module since the last set-up.
    impl.sizes.clear();
    impl.read_mouse_list(module_, gauge_);
    clear_images();
    for (const Impl::Node& node : impl.tree) {
        if (node.element->element_type != kStaticImage) continue;
        auto* element = as<ELEMENT_STATIC_IMAGE>(node.element);
        const Size size = impl.bitmap_size(module_, node.element->resource_id).value_or(Size{});
        auto image = std::make_unique<HOST_IMAGE_PREFIX>(HOST_IMAGE_PREFIX{
            .displayed_width = scaled_extent(size.width, scale_),
            .bitmap_id = node.element->resource_id,
            .displayed_height = scaled_extent(size.height, scale_),
        });
        element->image = image.get();
        impl.installed.push_back({element, std::move(image)});
    }
    impl.set_up = true;
    call_gauge(kServiceSetup);
    call_gauge(kServiceAfterSetup);
}

void GaugeInstance::kill() {
    if (impl_ == nullptr) return;
    clear_images();
    impl_->set_up = false;
    impl_->held = nullptr;
    impl_->has_angle.clear();
    impl_->travel.clear();
    elements_.clear();
}

void GaugeInstance::clear_images() {
    // Another instance of the same gauge may have installed its own image
    // since: only fields still holding this instance's images are cleared.
    for (Impl::Installed& installed : impl_->installed) {
        if (installed.element->image == installed.image.get()) installed.element->image = nullptr;
    }
    impl_->installed.clear();
}

void GaugeInstance::call_gauge(uint32_t service_id) {
    if (GaugeCallback callback = gauge_->gauge_callback) callback(gauge_, service_id, 0);
}

ElementState GaugeInstance::rest_state(ELEMENT_HEADER* element, int depth) const {
    ElementState state;
    state.element = element;
    state.depth = depth;
    state.type = element->element_type;
    state.resource_id = element->resource_id;
    state.visible = (element->image_flags & kImageHidden) == 0;
    if (element->element_type == kNeedle) {
        // Its callback is asked only if it freezes before its first
        // evaluation (update() parks it then), so this is its table's value 0.
        state.angle = needle_place(as<ELEMENT_NEEDLE>(element), 0.0).angle;
    } else if (element->element_type == kSlider) {
        state.x = element->position_x;
        state.y = element->position_y;
    }
    return state;
}

double GaugeInstance::park(ElementState& state) const {
    auto* needle = as<ELEMENT_NEEDLE>(state.element);
    // The dial's zero reading: a reading of 0 through the needle's own
    // mapping, so a tachometer's hands rest at 12 o'clock, not at angle 0.
    // The callback is lent the reading and the record put back as it was.
    double value = 0.0;
    if (needle->update_callback != nullptr) {
        const double saved = needle->source.value;
        needle->source.value = 0.0;
        value = needle->update_callback(needle);
        needle->source.value = saved;
    }
    const NeedlePlace place = needle_place(needle, value);
    state.value = value;
    state.angle = place.angle;
    return place.travel;
}

void GaugeInstance::update() {
    if (!impl_->set_up) setup();
    Impl& impl = *impl_;

    for (MODULE_VAR* var : impl.variables) var->value = host_.vars().get(var->token);
    call_gauge(kServiceUpdate);

    if (elements_.size() != impl.tree.size()) {
        elements_.clear();
        for (const Impl::Node& node : impl.tree) elements_.push_back(rest_state(node.element, node.depth));
        impl.has_angle.assign(impl.tree.size(), false);
        impl.travel.assign(impl.tree.size(), 0.0);
    }

    for (size_t i = 0; i < impl.tree.size(); ++i) {
        ElementState& state = elements_[i];
        ELEMENT_HEADER* element = state.element;
        state.visible = (element->image_flags & kImageHidden) == 0;
        state.failure_action = active_failure(host_, element->failure_records);
        state.greyed = state.failure_action == 1u;
        if (state.failure_action.has_value()) {
            if (element->element_type == kNeedle && *state.failure_action == 2) {
                impl.travel[i] = park(state);
                impl.has_angle[i] = true;
            } else if (element->element_type == kNeedle && !impl.has_angle[i]) {
                park(state);  // frozen before its first evaluation: at rest on its zero
            }
            continue;
        }
        // A hidden element keeps its last state; its callbacks are not asked.
        if (!state.visible) continue;
        evaluate(i, state);
    }
}

void GaugeInstance::evaluate(size_t index, ElementState& state) {
    ELEMENT_HEADER* element = state.element;
    switch (element->element_type) {
        case kNeedle: {
            auto* needle = as<ELEMENT_NEEDLE>(element);
            state.value = needle->update_callback != nullptr ? needle->update_callback(needle) : needle->source.value;
            const NeedlePlace target = needle_place(needle, state.value);
            double& travel = impl_->travel[index];
            // The first update jumps; later ones move along the scale.
            travel = impl_->has_angle[index] ? rate_limited_travel(travel, target.travel, needle->max_degrees_per_tick)
                                             : target.travel;
            state.angle = travel == target.travel ? target.angle : travel_angle(needle, travel);
            impl_->has_angle[index] = true;
            break;
        }
        case kSlider: {
            auto* slider = as<ELEMENT_SLIDER>(element);
            state.x = element->position_x + frame::finite_or_zero(slider->source_x.value * slider->scale_x);
            state.y = element->position_y + frame::finite_or_zero(slider->source_y.value * slider->scale_y);
            break;
        }
        case kIcon: {
            auto* icon = as<ELEMENT_ICON>(element);
            state.value = icon->callback != nullptr ? icon->callback(icon) : icon->source.value;
            state.frame = icon_frame(state.value, icon->frame_count);
            state.resource_id = element->resource_id + state.frame;
            break;
        }
        case kMovingImage: {
            auto* moving = as<ELEMENT_MOVING_IMAGE>(element);
            const double value_x = moving->callback_x != nullptr ? moving->callback_x(moving) : moving->source_x.value;
            const double value_y = moving->callback_y != nullptr ? moving->callback_y(moving) : moving->source_y.value;
            state.fraction_x = moving_image_fraction(value_x, moving->min_x, moving->max_x);
            state.fraction_y = moving_image_fraction(value_y, moving->min_y, moving->max_y);
            const std::optional<Size> picture = impl_->bitmap_size(module_, element->resource_id);
            const std::optional<Size> window = impl_->bitmap_size(module_, element->resource_id + 1);
            state.offset_x = 0.0;
            state.offset_y = 0.0;
            if (picture && window) {
                state.offset_x =
                    moving_image_offset(value_x, moving->min_x, moving->max_x, picture->width, window->width);
                state.offset_y =
                    moving_image_offset(value_y, moving->min_y, moving->max_y, picture->height, window->height);
            }
            break;
        }
        case kSprite: {
            auto* sprite = as<ELEMENT_SPRITE>(element);
            const double value_x = sprite->callback_x != nullptr ? sprite->callback_x(sprite) : sprite->source_x.value;
            const double value_y = sprite->callback_y != nullptr ? sprite->callback_y(sprite) : sprite->source_y.value;
            const double value_rotation = sprite->callback_rotation != nullptr ? sprite->callback_rotation(sprite)
                                                                               : sprite->source_rotation.value;
            state.shift_x = frame::finite_or_zero(value_x * sprite->scale_x);
            state.shift_y = frame::finite_or_zero(value_y * sprite->scale_y);
            state.rotation = frame::finite_or_zero(value_rotation * sprite->scale_rotation);
            break;
        }
        default: break;
    }
}

// --- Mouse ----------------------------------------------------------------------

void GaugeInstance::act(const MouseBox& box, int64_t x, int64_t y, uint32_t flags) {
    const DisplayedBox shown = displayed_box(box, scale_);
    if (box.event_id != 0) host_.send_key_event(box.event_id, 0);
    if (box.handler != nullptr) {
        PIXPOINT point{to_int32(x - shown.left), to_int32(y - shown.top)};
        box.handler(&point, flags);
    }
}

PIXPOINT GaugeInstance::exercise(const MouseBox& box) {
    const DisplayedBox shown = displayed_box(box, scale_);
    const auto x = static_cast<int32_t>((shown.left + shown.right) / 2);
    const auto y = static_cast<int32_t>((shown.top + shown.bottom) / 2);
    press(x, y);
    repeat();
    move(x, y + 3);
    release();
    return PIXPOINT{x, y};
}

void GaugeInstance::press(int32_t x, int32_t y) {
    release();
    if (!impl_->set_up) setup();
    const MouseBox* box = impl_->mouse.hit(scale_, x, y, kMouseClick | kMouseDrag);
    if (box == nullptr) return;
    impl_->held = box;
    impl_->pointer_x = x;
    impl_->pointer_y = y;
    act(*box, x, y, box->mouse_flags & (kMouseClick | kMouseDrag));
}

void GaugeInstance::move(int32_t x, int32_t y) {
    impl_->pointer_x = x;
    impl_->pointer_y = y;
    const MouseBox* box = impl_->held;
    if (box != nullptr && (box->mouse_flags & kMouseDrag) != 0) act(*box, x, y, kMouseDrag);
}

void GaugeInstance::repeat() {
    const MouseBox* box = impl_->held;
    if (box == nullptr || (box->mouse_flags & kMouseRepeat) == 0) return;
    if (!displayed_box(*box, scale_).contains(impl_->pointer_x, impl_->pointer_y)) return;
    act(*box, impl_->pointer_x, impl_->pointer_y, kMouseRepeat);
}

void GaugeInstance::release() { impl_->held = nullptr; }

}  // namespace bench

#include "runtime/instance.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <set>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "frame/numbers.h"
#include "frame/vocabulary.h"
#include "runtime/call_context.h"
#include "runtime/evaluate.h"
#include "runtime/module_code.h"
#include "runtime/trace.h"

namespace runtime {

// Named, not anonymous: GaugeInstance::Impl holds them.
namespace instance_parts {

struct Size {
    uint32_t width = 0;
    uint32_t height = 0;
};

// Where a needle stands for a value: along its scale (the domain its rate
// limit counts in) and on the screen.
struct NeedlePlace {
    double travel = 0.0;
    double angle = 0.0;
};

}  // namespace instance_parts
using instance_parts::NeedlePlace;
using instance_parts::Size;

namespace {

// Failure records read from one list at most; a list without its
// terminating record is cut there.
constexpr size_t kMaxFailureRecords = 256;
// Entries read from one element list at most.
constexpr size_t kMaxListEntries = 1024;

uint32_t scaled_extent(uint32_t extent, double scale) {
    const double scaled = std::round(static_cast<double>(extent) * scale);
    if (!(scaled > 0.0)) return 0;
    if (scaled >= 4294967295.0) return UINT32_MAX;
    return static_cast<uint32_t>(scaled);
}

// Runs `work`: a fault of module code in it is the gauge's, said to come
// from `what` ("gauge Altimeter, update_callback of ...").
template <typename Work>
decltype(auto) faulting_as_gauge(const Module& module, const std::string& gauge, std::string_view what, Work&& work) {
    try {
        return work();
    } catch (const emulator::GuestFault& fault) {
        throw GaugeFault(fault_message(module, "gauge " + gauge + ", " + std::string(what), fault), fault);
    }
}

int32_t to_int32(int64_t value) {
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

// The embedded variables the host refreshes in an element, by kind.
template <typename... Members>
std::vector<GuestPtr<guest::MODULE_VAR>> variables_at(ElementPtr element, Members... offsets) {
    return {GuestPtr<guest::MODULE_VAR>(element.address + static_cast<uint32_t>(offsets))...};
}

std::vector<GuestPtr<guest::MODULE_VAR>> element_variables(const emulator::GuestMemory& mem, ElementPtr element) {
    namespace g = guest;
    switch (mem.read(element).element_type) {
        case kNeedle: return variables_at(element, offsetof(g::ELEMENT_NEEDLE, source));
        case kSlider:
            return variables_at(element, offsetof(g::ELEMENT_SLIDER, source_x), offsetof(g::ELEMENT_SLIDER, source_y));
        case kIcon: return variables_at(element, offsetof(g::ELEMENT_ICON, source));
        case kMovingImage:
            return variables_at(element, offsetof(g::ELEMENT_MOVING_IMAGE, source_x),
                                offsetof(g::ELEMENT_MOVING_IMAGE, source_y));
        case kSprite:
            return variables_at(element, offsetof(g::ELEMENT_SPRITE, source_x), offsetof(g::ELEMENT_SPRITE, source_y),
                                offsetof(g::ELEMENT_SPRITE, source_rotation));
        default: return {};
    }
}

// A needle's calibration table, read whole; empty without one.
std::span<const guest::NONLINEARITY> needle_table(const emulator::GuestMemory& mem,
                                                  const guest::ELEMENT_NEEDLE& needle) {
    if (!needle.nonlinearity || needle.nonlinearity_size == 0) return {};
    return mem.read_array(needle.nonlinearity, needle.nonlinearity_size);
}


NeedlePlace needle_place(const emulator::GuestMemory& mem, const guest::ELEMENT_NEEDLE& needle, double value) {
    const auto table = needle_table(mem, needle);
    if (table.empty()) return {frame::finite_or_zero(value), normalize_degrees(value)};
    const guest::ELEMENT_HEADER& e = needle.header;
    const auto size = static_cast<uint32_t>(table.size());
    const TablePlace place = *table_place(table.data(), size, e.position_x, e.position_y, value);
    return {place.travel, place.angle};
}

// The angle of a place along the scale short of its target.
double travel_angle(const emulator::GuestMemory& mem, const guest::ELEMENT_NEEDLE& needle, double travel) {
    const auto table = needle_table(mem, needle);
    if (table.empty()) return normalize_degrees(travel);
    const guest::ELEMENT_HEADER& e = needle.header;
    return normalize_degrees(direction_degrees(e.position_x, e.position_y, table[0].x, table[0].y) + travel);
}

// The element callbacks' names, composed once: an update names one for every
// element it asks.
struct CallbackNames {
    ElementCallbackName needle{kNeedle, "update_callback"};
    ElementCallbackName icon{kIcon, "callback"};
    ElementCallbackName moving_x{kMovingImage, "callback_x"};
    ElementCallbackName moving_y{kMovingImage, "callback_y"};
    ElementCallbackName sprite_x{kSprite, "callback_x"};
    ElementCallbackName sprite_y{kSprite, "callback_y"};
    ElementCallbackName sprite_rotation{kSprite, "callback_rotation"};
};
const CallbackNames& callback_names() {
    static const CallbackNames names;
    return names;
}

// The gauge is named for the trace, which records each question.
std::optional<uint32_t> active_failure(const Host& host, const Module& module, std::string_view gauge,
                                       GuestPtr<const guest::FAILURE_RECORD> list) {
    if (!list) return std::nullopt;
    const emulator::GuestMemory& mem = module.memory();
    // Read where the list's region holds it, record by record past that (a
    // record that leaves the module's memory faults there).
    const std::span<const guest::FAILURE_RECORD> run = mem.read_run(list, kMaxFailureRecords);
    for (uint32_t i = 0; i < kMaxFailureRecords; ++i) {
        const guest::FAILURE_RECORD record = i < run.size() ? run[i] : mem.read(list.at(i));
        if (record.failure_key == 0) break;
        const bool failed = host.is_failed(record.failure_key);
        if (Trace* trace = host.trace()) trace->failure(module, gauge, record.failure_key, failed);
        if (failed) return record.failure_action;
    }
    return std::nullopt;
}

}  // namespace

struct GaugeInstance::Impl {
    struct Node {
        ElementPtr element;
        int depth = 0;
    };
    // The host's loaded picture of a static image, in guest memory made once
    // per instance: displayed width, bitmap id, displayed height.
    struct Installed {
        ElementPtr element;
        GuestPtr<guest::HOST_IMAGE_PREFIX> image;
    };

    std::vector<Node> tree;                              // drawing order
    std::vector<GuestPtr<guest::MODULE_VAR>> variables;  // embedded, token != 0
    MouseLayout mouse;
    std::map<uint32_t, std::optional<Size>> sizes;
    std::vector<GuestPtr<guest::HOST_IMAGE_PREFIX>> images;  // per static image, in tree order
    std::vector<Installed> installed;
    GuestPtr<guest::PIXPOINT> point;  // what a mouse handler is given
    bool set_up = false;
    std::vector<bool> has_angle;  // per node: a needle angle from an earlier update
    std::vector<double> travel;   // per node: a needle's place along its scale (NeedlePlace::travel)
    // Per node: a needle's place for the value, pivot and table it had the
    // last time, which most needles have again (a dial's table is turned
    // into directions on every change, a trigonometric function a point).
    struct LastPlace {
        bool known = false;
        double value = 0.0;
        int32_t pivot_x = 0, pivot_y = 0;
        std::vector<guest::NONLINEARITY> table;
        NeedlePlace place;
    };
    std::vector<LastPlace> last_place;
    NeedlePlace needle_place_again(const emulator::GuestMemory& mem, size_t index, const guest::ELEMENT_NEEDLE& needle,
                                   double value);

    // Mouse: the box held since the press, and the pointer's latest position.
    const MouseBox* held = nullptr;
    int64_t pointer_x = 0, pointer_y = 0;

    std::optional<Size> bitmap_size(const Module& module, uint32_t resource_id);
    Size root_size(const Module& module);
    void read_mouse_list(const Module& module, GaugePtr gauge);
    void walk_tree(const emulator::GuestMemory& mem, GaugePtr gauge);
};

void GaugeInstance::Impl::walk_tree(const emulator::GuestMemory& mem, GaugePtr gauge) {
    const GuestPtr<const ElementPtr> roots = mem.read(gauge).element_list;
    if (!roots) return;
    std::set<uint32_t> seen;
    // Depth-first, each element before its list, lists in order: push the
    // entries of a list in reverse so the first comes off the stack first.
    std::vector<Node> stack;
    auto push_list = [&](GuestPtr<const ElementPtr> list, int depth) {
        uint32_t count = 0;
        while (count < kMaxListEntries && mem.read(list.at(count))) ++count;
        for (uint32_t i = count; i > 0; --i) stack.push_back({mem.read(list.at(i - 1)), depth});
    };
    push_list(roots, 0);
    while (!stack.empty() && tree.size() < GaugeInstance::kMaxElements) {
        const Node node = stack.back();
        stack.pop_back();
        if (!seen.insert(node.element.address).second) continue;
        const GuestPtr<const ElementPtr> next = mem.read(node.element).next_element_list;
        tree.push_back(node);
        if (next) push_list(next, node.depth + 1);
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
    return bitmap_size(module, module.memory().read(tree.front().element).resource_id).value_or(Size{});
}

void GaugeInstance::Impl::read_mouse_list(const Module& module, GaugePtr gauge) {
    held = nullptr;
    const Size root = root_size(module);
    mouse = MouseLayout::parse(module.memory(), module.memory().read(gauge).mouse_rects, root.width, root.height);
}

GaugeInstance::GaugeInstance(Host& host, const Module& module, GaugePtr gauge, double scale)
    : host_(host), module_(module), gauge_(gauge), scale_(scale) {
    if (!gauge) throw std::invalid_argument("GaugeInstance: no gauge header");
    if (!(scale > 0.0 && scale <= kMaxScale)) {
        throw std::invalid_argument("GaugeInstance: display scale " + std::to_string(scale) + " out of range");
    }
    name_ = module.gauge_name(gauge);
    const emulator::GuestMemory& mem = module.memory();
    auto impl = std::make_unique<Impl>();
    faulting_as_gauge(module, name_, "its records", [&] {
        impl->walk_tree(mem, gauge);
        for (const Impl::Node& node : impl->tree) {
            for (GuestPtr<guest::MODULE_VAR> var : element_variables(mem, node.element)) {
                if (mem.read(var).token != 0) impl->variables.push_back(var);
            }
        }
        impl->read_mouse_list(module, gauge);
        if (!impl->tree.empty()) {
            const guest::ELEMENT_HEADER& first = mem.read(impl->tree.front().element);
            background_ = Background{first.resource_id, first.image_flags};
        }
    });
    impl_ = std::move(impl);
}

GaugeInstance::~GaugeInstance() {
    try {
        kill();
    } catch (const std::exception&) {
        // Going anyway: an image field the module made read-only keeps its picture.
    }
}

bool GaugeInstance::is_set_up() const { return impl_->set_up; }

const MouseLayout& GaugeInstance::mouse_layout() const { return impl_->mouse; }

uint32_t GaugeInstance::displayed_width() const { return scaled_extent(impl_->root_size(module_).width, scale_); }

uint32_t GaugeInstance::displayed_height() const { return scaled_extent(impl_->root_size(module_).height, scale_); }

void GaugeInstance::setup() {
    Impl& impl = *impl_;
    emulator::GuestMemory& mem = module_.memory();
    faulting_as_gauge(module_, name_, "set-up of its records", [&] {
        // Sizes may have been given to the module since the last set-up.
        impl.sizes.clear();
        impl.read_mouse_list(module_, gauge_);
        clear_images();
        size_t next_image = 0;
        for (const Impl::Node& node : impl.tree) {
            const guest::ELEMENT_HEADER& header = mem.read(node.element);
            if (header.element_type != kStaticImage) continue;
            if (next_image == impl.images.size()) {
                impl.images.emplace_back(module_.machine().allocate(sizeof(guest::HOST_IMAGE_PREFIX)));
            }
            const GuestPtr<guest::HOST_IMAGE_PREFIX> image = impl.images[next_image++];
            const Size size = impl.bitmap_size(module_, header.resource_id).value_or(Size{});
            mem.write(image) = guest::HOST_IMAGE_PREFIX{
                .displayed_width = scaled_extent(size.width, scale_),
                .bitmap_id = header.resource_id,
                .displayed_height = scaled_extent(size.height, scale_),
            };
            mem.write(node.element.cast<guest::ELEMENT_STATIC_IMAGE>()).image = image;
            impl.installed.push_back({node.element, image});
        }
    });
    impl.set_up = true;
    call_gauge(kServiceSetup);
    call_gauge(kServiceAfterSetup);
}

void GaugeInstance::kill() {
    if (impl_ == nullptr) return;
    impl_->set_up = false;
    impl_->held = nullptr;
    impl_->has_angle.clear();
    impl_->travel.clear();
    impl_->last_place.clear();
    elements_.clear();
    faulting_as_gauge(module_, name_, "taking down its records", [&] { clear_images(); });
}

void GaugeInstance::clear_images() {
    // Another instance of the same gauge may have installed its own image
    // since: only fields still holding this instance's images are cleared.
    emulator::GuestMemory& mem = module_.memory();
    for (Impl::Installed& installed : impl_->installed) {
        auto& element = mem.write(installed.element.cast<guest::ELEMENT_STATIC_IMAGE>());
        if (element.image == installed.image) element.image = nullptr;
    }
    impl_->installed.clear();
}

double GaugeInstance::call_value(uint32_t code, uint32_t record, std::string_view what) const {
    const uint32_t args[] = {record};
    return faulting_as_gauge(module_, name_, what, [&] {
        const CallScope scope(module_, name_, what);
        return module_.machine().call_double(code, args, emulator::Convention::kStdcall);
    });
}

void GaugeInstance::call_gauge(uint32_t service_id) {
    const std::optional<std::string_view> sent = sent_gauge_callback_name(service_id);
    const std::string other = sent ? std::string() : gauge_callback_name(service_id);
    const std::string_view name = sent ? *sent : std::string_view(other);
    faulting_as_gauge(module_, name_, name, [&] {
        const guest::GaugeCallback callback = module_.memory().read(gauge_).gauge_callback;
        if (!callback) return;
        const uint32_t args[] = {gauge_.address, service_id, 0};
        const CallScope scope(module_, name_, name);
        module_.machine().call(callback.address, args, emulator::Convention::kStdcall);
    });
}

namespace {

Placement placement_of(const emulator::GuestMemory& mem, const ElementState& state) {
    const guest::ELEMENT_HEADER& e = mem.read(state.element);
    Placement placed{e.position_x, e.position_y, e.ofs_x, e.ofs_y, e.image_flags};
    if (state.type == kSprite) {
        const guest::ELEMENT_SPRITE& sprite = mem.read(state.element.cast<guest::ELEMENT_SPRITE>());
        placed.texture_scale_x = sprite.texture_scale_x;
        placed.texture_scale_y = sprite.texture_scale_y;
    }
    return placed;
}

}  // namespace

ElementState GaugeInstance::rest_state(ElementPtr element, int depth) const {
    const emulator::GuestMemory& mem = module_.memory();
    const guest::ELEMENT_HEADER& header = mem.read(element);
    ElementState state;
    state.element = element;
    state.depth = depth;
    state.type = header.element_type;
    state.resource_id = header.resource_id;
    state.visible = (header.image_flags & kImageHidden) == 0;
    const std::vector<GuestPtr<guest::MODULE_VAR>> sources = element_variables(mem, element);
    for (size_t i = 0; i < sources.size() && i < state.sources.size(); ++i) state.sources[i] = mem.read(sources[i]).token;
    if (header.element_type == kNeedle) {
        // Its callback is asked only if it freezes before its first
        // evaluation (update() parks it then), so this is its table's value 0.
        state.angle = needle_place(mem, mem.read(element.cast<guest::ELEMENT_NEEDLE>()), 0.0).angle;
    } else if (header.element_type == kSlider) {
        state.x = header.position_x;
        state.y = header.position_y;
    }
    state.placement = placement_of(mem, state);
    return state;
}

double GaugeInstance::park(ElementState& state) const {
    emulator::GuestMemory& mem = module_.memory();
    const auto pointer = state.element.cast<guest::ELEMENT_NEEDLE>();
    // The dial's zero reading: a reading of 0 through the needle's own
    // mapping, so a tachometer's hands rest at 12 o'clock, not at angle 0.
    // The callback is lent the reading and the record put back as it was.
    double value = 0.0;
    const guest::NeedleCallback callback = mem.read(pointer).update_callback;
    if (callback) {
        const double saved = mem.read(pointer).source.value;
        mem.write(pointer).source.value = 0.0;
        value = call_value(callback.address, pointer.address, callback_names().needle.view());
        mem.write(pointer).source.value = saved;
    }
    const NeedlePlace place = needle_place(mem, mem.read(pointer), value);
    state.value = value;
    state.angle = place.angle;
    return place.travel;
}

void GaugeInstance::update() {
    module_calls_together([this] { update_now(); });
}

void GaugeInstance::update_now() {
    if (!impl_->set_up) setup();
    Impl& impl = *impl_;
    emulator::GuestMemory& mem = module_.memory();
    faulting_as_gauge(module_, name_, "refreshing its variables", [&] {
        for (GuestPtr<guest::MODULE_VAR> var : impl.variables) {
            guest::MODULE_VAR& record = mem.write(var);
            record.value = host_.vars().get(record.token);
        }
    });
    call_gauge(kServiceUpdate);

    faulting_as_gauge(module_, name_, "its elements", [&] {
        if (elements_.size() != impl.tree.size()) {
            elements_.clear();
            for (const Impl::Node& node : impl.tree) elements_.push_back(rest_state(node.element, node.depth));
            impl.has_angle.assign(impl.tree.size(), false);
            impl.travel.assign(impl.tree.size(), 0.0);
            impl.last_place.assign(impl.tree.size(), {});
        }

        for (size_t i = 0; i < impl.tree.size(); ++i) {
            ElementState& state = elements_[i];
            const guest::ELEMENT_HEADER& element = mem.read(state.element);
            state.visible = (element.image_flags & kImageHidden) == 0;
            state.failure_action = active_failure(host_, module_, name_, element.failure_records);
            state.greyed = state.failure_action == kFailureGrey;
            if (state.failure_action.has_value()) {
                if (element.element_type == kNeedle && *state.failure_action == kFailurePark) {
                    impl.travel[i] = park(state);
                    impl.has_angle[i] = true;
                } else if (element.element_type == kNeedle && !impl.has_angle[i]) {
                    park(state);  // frozen before its first evaluation: at rest on its zero
                }
                continue;
            }
            // A hidden element keeps its last state; its callbacks are not asked.
            if (!state.visible) continue;
            evaluate(i, state);
        }
        // Placed as the whole update left the records: a callback may move
        // or flag an element other than its own.
        for (ElementState& state : elements_) state.placement = placement_of(mem, state);
        if (!elements_.empty()) {
            background_ = Background{mem.read(elements_.front().element).resource_id,
                                     elements_.front().placement.image_flags};
        }
    });
}

NeedlePlace GaugeInstance::Impl::needle_place_again(const emulator::GuestMemory& mem, size_t index,
                                                    const guest::ELEMENT_NEEDLE& needle, double value) {
    const std::span<const guest::NONLINEARITY> table = needle_table(mem, needle);
    LastPlace& last = last_place[index];
    const auto same_bits = [](const void* a, const void* b, size_t size) { return std::memcmp(a, b, size) == 0; };
    if (last.known && same_bits(&last.value, &value, sizeof value) && last.pivot_x == needle.header.position_x &&
        last.pivot_y == needle.header.position_y && last.table.size() == table.size() &&
        (table.empty() || same_bits(last.table.data(), table.data(), table.size_bytes()))) {
        return last.place;
    }
    last.place = needle_place(mem, needle, value);
    last.known = true;
    last.value = value;
    last.pivot_x = needle.header.position_x;
    last.pivot_y = needle.header.position_y;
    last.table.assign(table.begin(), table.end());
    return last.place;
}

// One case per element type, each calling its callbacks and placing what it
// draws; the cases share the element's records and state.
void GaugeInstance::evaluate(size_t index, ElementState& state) {
    const emulator::GuestMemory& mem = module_.memory();
    const ElementPtr element = state.element;
    const guest::ELEMENT_HEADER& header = mem.read(element);
    // A value an element is drawn by: its callback's result when it has one,
    // else its source variable's value (read only then).
    const auto value_of = [&](auto callback, const guest::MODULE_VAR& source, const ElementCallbackName& name) {
        return callback ? call_value(callback.address, element.address, name.view()) : source.value;
    };
    const CallbackNames& names = callback_names();
    switch (header.element_type) {
        case kNeedle: {
            const auto pointer = element.cast<guest::ELEMENT_NEEDLE>();
            const guest::ELEMENT_NEEDLE asked = mem.read(pointer);
            state.value = value_of(asked.update_callback, asked.source, names.needle);
            // The record as its callback left it.
            const guest::ELEMENT_NEEDLE needle = asked.update_callback ? mem.read(pointer) : asked;
            const NeedlePlace target = impl_->needle_place_again(mem, index, needle, state.value);
            double& travel = impl_->travel[index];
            // The first update jumps; later ones move along the scale.
            travel = impl_->has_angle[index] ? rate_limited_travel(travel, target.travel, needle.max_degrees_per_tick)
                                             : target.travel;
            state.angle = travel == target.travel ? target.angle : travel_angle(mem, needle, travel);
            impl_->has_angle[index] = true;
            break;
        }
        case kSlider: {
            const guest::ELEMENT_SLIDER& slider = mem.read(element.cast<guest::ELEMENT_SLIDER>());
            state.x = header.position_x + frame::finite_or_zero(slider.source_x.value * slider.scale_x);
            state.y = header.position_y + frame::finite_or_zero(slider.source_y.value * slider.scale_y);
            break;
        }
        case kIcon: {
            const auto pointer = element.cast<guest::ELEMENT_ICON>();
            const guest::ELEMENT_ICON asked = mem.read(pointer);
            state.value = value_of(asked.callback, asked.source, names.icon);
            const guest::ELEMENT_ICON icon = asked.callback ? mem.read(pointer) : asked;
            state.frame = icon_frame(state.value, icon.frame_count);
            state.resource_id = icon.header.resource_id + state.frame;
            break;
        }
        case kMovingImage: {
            const auto pointer = element.cast<guest::ELEMENT_MOVING_IMAGE>();
            const double value_x = value_of(mem.read(pointer).callback_x, mem.read(pointer).source_x, names.moving_x);
            const double value_y = value_of(mem.read(pointer).callback_y, mem.read(pointer).source_y, names.moving_y);
            const guest::ELEMENT_MOVING_IMAGE& moving = mem.read(pointer);
            state.fraction_x = moving_image_fraction(value_x, moving.min_x, moving.max_x);
            state.fraction_y = moving_image_fraction(value_y, moving.min_y, moving.max_y);
            const uint32_t resource_id = moving.header.resource_id;
            const std::optional<Size> picture = impl_->bitmap_size(module_, resource_id);
            const std::optional<Size> window = impl_->bitmap_size(module_, resource_id + 1);
            state.offset_x = 0.0;
            state.offset_y = 0.0;
            if (picture && window) {
                state.offset_x =
                    moving_image_offset(value_x, moving.min_x, moving.max_x, picture->width, window->width);
                state.offset_y =
                    moving_image_offset(value_y, moving.min_y, moving.max_y, picture->height, window->height);
            }
            break;
        }
        case kSprite: {
            const auto pointer = element.cast<guest::ELEMENT_SPRITE>();
            const double value_x = value_of(mem.read(pointer).callback_x, mem.read(pointer).source_x, names.sprite_x);
            const double value_y = value_of(mem.read(pointer).callback_y, mem.read(pointer).source_y, names.sprite_y);
            const double value_rotation =
                value_of(mem.read(pointer).callback_rotation, mem.read(pointer).source_rotation, names.sprite_rotation);
            const guest::ELEMENT_SPRITE& sprite = mem.read(pointer);
            state.shift_x = frame::finite_or_zero(value_x * sprite.scale_x);
            state.shift_y = frame::finite_or_zero(value_y * sprite.scale_y);
            state.rotation = frame::finite_or_zero(value_rotation * sprite.scale_rotation);
            break;
        }
        default: break;
    }
}

// --- Mouse ----------------------------------------------------------------------

void GaugeInstance::act(const MouseBox& box, int64_t x, int64_t y, uint32_t flags) {
    const DisplayedBox shown = displayed_box(box, scale_);
    if (box.event_id != 0) host_.send_key_event(box.event_id, 0);
    if (!box.handler) return;
    faulting_as_gauge(module_, name_, std::string(kMouseHandler) + " of box " + std::to_string(box.record), [&] {
        if (!impl_->point)
            impl_->point = GuestPtr<guest::PIXPOINT>(module_.machine().allocate(sizeof(guest::PIXPOINT)));
        module_.memory().write(impl_->point) = guest::PIXPOINT{to_int32(x - shown.left), to_int32(y - shown.top)};
        const uint32_t args[] = {impl_->point.address, flags};
        const CallScope scope(module_, name_, kMouseHandler);
        module_.machine().call(box.handler.address, args, emulator::Convention::kStdcall);
    });
}

guest::PIXPOINT GaugeInstance::exercise(const MouseBox& box) {
    const DisplayedBox shown = displayed_box(box, scale_);
    const auto x = static_cast<int32_t>((shown.left + shown.right) / 2);
    const auto y = static_cast<int32_t>((shown.top + shown.bottom) / 2);
    press(x, y);
    repeat();
    move(x, y + 3);
    release();
    return guest::PIXPOINT{x, y};
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

uint32_t GaugeInstance::help_under(int32_t x, int32_t y) const {
    if (const MouseBox* box = box_under(x, y); box != nullptr && box->help_id != sim::help::kNone) return box->help_id;
    uint32_t help = sim::help::kNone;
    int depth = -1;
    for (const MouseBox& box : impl_->mouse.boxes()) {
        if (box.is_child() || box.help_id == sim::help::kNone || box.depth <= depth) continue;
        if (!displayed_box(box, scale_).contains(x, y)) continue;
        help = box.help_id;
        depth = box.depth;
    }
    return help;
}

const MouseBox* GaugeInstance::box_under(int32_t x, int32_t y) const {
    if (const MouseBox* pressed = impl_->mouse.hit(scale_, x, y, kMouseClick | kMouseDrag)) return pressed;
    for (const MouseBox& box : impl_->mouse.boxes()) {
        if (box.is_child() && displayed_box(box, scale_).contains(x, y)) return &box;
    }
    return nullptr;
}

}  // namespace runtime

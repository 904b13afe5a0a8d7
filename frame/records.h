// The host's gauge records: a binary format the panel system reads in place.
// Every record is little-endian, 32-bit pointers, packed to 4 bytes; reserved
// fields keep their widths and stay zero in the module's data (the host may
// write its own working data into some of them at run time).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "frame/calling_convention.h"
#include "frame/record_schema.h"

static_assert(sizeof(double) == 8 && sizeof(float) == 4);

// The routines the host calls in the module, by their signatures; Ptr makes
// a pointer to a record, Fn a pointer to a routine.
#define GAUGE_ROUTINE_TYPES(Fn, Ptr)                                                            \
    using StandardRoutine = Fn(void, ());                                                       \
    using StandardRoutineWithArg = Fn(void, (uint32_t host_argument));                          \
    using GaugeCallback = Fn(void, (Ptr(GAUGEHDR) gauge, uint32_t service_id, uint32_t extra)); \
    using NeedleCallback = Fn(double, (Ptr(ELEMENT_NEEDLE) element));                           \
    using IconCallback = Fn(double, (Ptr(ELEMENT_ICON) element));                               \
    using MovingImageCallback = Fn(double, (Ptr(ELEMENT_MOVING_IMAGE) element));                \
    using SpriteCallback = Fn(double, (Ptr(ELEMENT_SPRITE) element));                           \
    using MouseHandler = Fn(int32_t, (Ptr(PIXPOINT) point, uint32_t mouse_flags));

#define GAUGE_RECORD_NAMES(X) \
    X(GAUGEHDR)               \
    X(ELEMENT_HEADER)         \
    X(ELEMENT_NEEDLE)         \
    X(ELEMENT_ICON)           \
    X(ELEMENT_MOVING_IMAGE)   \
    X(ELEMENT_SPRITE)         \
    X(PIXPOINT)
#define GAUGE_DECLARE_RECORD(name) struct name;

#if FRAME_NATIVE_RECORDS
static_assert(sizeof(void*) == 4, "gauge records are a 32-bit format");
GAUGE_RECORD_NAMES(GAUGE_DECLARE_RECORD)
#define GAUGE_NATIVE_FN(result, parameters) result(GAUGE_CALL*) parameters
#define GAUGE_NATIVE_PTR(record) record*
GAUGE_ROUTINE_TYPES(GAUGE_NATIVE_FN, GAUGE_NATIVE_PTR)
#endif

namespace guest {
using frame::GuestFn;
using frame::GuestPtr;
GAUGE_RECORD_NAMES(GAUGE_DECLARE_RECORD)
#define GAUGE_GUEST_FN(result, parameters) GuestPtr<GuestFn<result parameters>>
#define GAUGE_GUEST_PTR(record) GuestPtr<record>
GAUGE_ROUTINE_TYPES(GAUGE_GUEST_FN, GAUGE_GUEST_PTR)
}  // namespace guest

// Service ids the gauge callbacks of this system react to.
enum ServiceId : uint32_t {
    kServiceSetup = 2,
    kServiceAfterSetup = 4,
    kServiceUpdate = 6,
};

enum ElementType : uint32_t {
    kStaticImage = 0,
    kNeedle = 1,
    kString = 2,
    kSlider = 3,
    kIcon = 4,
    kMovingImage = 5,
    kSprite = 6,
};

// The bits of image_flags the host gives a meaning; it reads no other.
// Bits 0, 1, 2 and 14 are drawing options (README, "Drawing options").
enum ImageFlag : uint32_t {
    kImageTransparentBlack = 1u << 0,  // pure black is transparent: every stored element, faces included
    kImageOverlay = 1u << 1,           // drawn over a face: everything but the backgrounds
    kImageBright = 1u << 2,            // lamps, lit at their own brightness, not dimmed at night
    kImageBuffered = 1u << 14,         // dial faces and what turns or moves on them; not lamps, not a plain face
    kImageHidden = 1u << 30,           // not drawn, though the elements listed under it are
};

// image_flags as the gauges store them.
inline constexpr uint32_t kFlagsPlainBackground = kImageTransparentBlack;
inline constexpr uint32_t kFlagsBackground = kImageTransparentBlack | kImageBuffered;
inline constexpr uint32_t kFlagsOverlay = kImageTransparentBlack | kImageOverlay | kImageBuffered;
inline constexpr uint32_t kFlagsLight =
    kImageTransparentBlack | kImageOverlay | kImageBright | kImageHidden;  // lamps start dark

// The bits of mouse_flags: what a box answers, and what a handler is told.
enum MouseFlag : uint32_t {
    kMouseRepeat = 1u << 21,  // repeated while the button is held
    kMouseDrag = 1u << 23,    // moves with the button held
    kMouseClick = 1u << 29,   // one call per click
};

inline constexpr uint32_t kMouseClickRepeat = kMouseClick | kMouseRepeat;

// The bits of the bit sets above by the names tools list them under.
struct FlagName {
    uint32_t bit;
    const char* name;
};
inline constexpr FlagName kImageFlagNames[] = {{kImageTransparentBlack, "transparent_black"},
                                               {kImageOverlay, "overlay"},
                                               {kImageBright, "bright"},
                                               {kImageBuffered, "buffered"},
                                               {kImageHidden, "hidden"}};
inline constexpr FlagName kMouseFlagNames[] = {{kMouseRepeat, "repeat"}, {kMouseDrag, "drag"}, {kMouseClick, "click"}};

// Calls visit(name, bit) for every bit set in `bits`, lowest first: `name`
// is the bit's among `names`, or null for a bit that has none.
template <typename Visit>
constexpr void each_flag(uint32_t bits, std::span<const FlagName> names, Visit&& visit) {
    for (int bit = 0; bit < 32; ++bit) {
        const uint32_t mask = 1u << bit;
        if ((bits & mask) == 0) continue;
        const char* name = nullptr;
        for (const FlagName& flag : names) {
            if (flag.bit == mask) name = flag.name;
        }
        visit(name, bit);
    }
}

// The cursor a mouse box asks for: the host chooses the shapes (the page
// names the CSS cursor each stands for).
enum MouseCursor : int32_t {
    kCursorNone = -1,      // the panel's own
    kCursorArrow = 1,      // a setting knob's right half (up), a starter's arming box
    kCursorArrowBack = 2,  // a setting knob's left half (down)
    kCursorHand = 5,       // switches, buttons and levers
};
struct CursorName {
    int32_t cursor;
    const char* name;
};
inline constexpr CursorName kCursorNames[] = {
    {kCursorNone, "none"}, {kCursorArrow, "arrow"}, {kCursorArrowBack, "arrow_back"}, {kCursorHand, "hand"}};
// The name tools list `cursor` under, or null for one the host does not know.
constexpr const char* cursor_name(int32_t cursor) {
    for (const CursorName& named : kCursorNames) {
        if (named.cursor == cursor) return named.name;
    }
    return nullptr;
}

// The failures a module's elements answer to (FAILURE_RECORD), by what each
// key stands for in this host, and what an active one does to an element.
enum FailureKey : uint32_t {
    kFailPitotStatic = 3,  // the pressure instruments together
    kFailAirspeed = 6,
    kFailAltimeter = 7,
    kFailAttitude = 8,
    kFailDirectionFinder = 9,
    kFailFuelContents = 10,
    kFailCompass = 11,
    kFailTurn = 18,
    kFailVerticalSpeed = 19,
    kFailElectrics = 20,  // the panel's electrically driven instruments and switches
};
enum FailureAction : uint32_t {
    kFailureFreeze = 0,  // no longer evaluated: it stays where it was
    kFailureGrey = 1,    // frozen, and drawn greyed out
    kFailurePark = 2,    // a needle falls back to its scale's zero; anything else freezes
};
inline constexpr uint32_t kLastFailureAction = kFailurePark;

enum MouseRectType : uint32_t {
    kMouseEnd = 0,
    kMouseParent = 1,
    kMouseChild = 2,
    kMouseParentEnd = 3,
};

// The names tools list failure keys and actions and mouse area types under.
struct NumberedName {
    uint32_t number;
    const char* name;
};
inline constexpr NumberedName kFailureKeyNames[] = {{kFailPitotStatic, "pitot_static"},
                                                    {kFailAirspeed, "airspeed"},
                                                    {kFailAltimeter, "altimeter"},
                                                    {kFailAttitude, "attitude"},
                                                    {kFailDirectionFinder, "direction_finder"},
                                                    {kFailFuelContents, "fuel_contents"},
                                                    {kFailCompass, "compass"},
                                                    {kFailTurn, "turn"},
                                                    {kFailVerticalSpeed, "vertical_speed"},
                                                    {kFailElectrics, "electrics"}};
inline constexpr NumberedName kFailureActionNames[] = {
    {kFailureFreeze, "freeze"}, {kFailureGrey, "grey"}, {kFailurePark, "park"}};
inline constexpr NumberedName kMouseRectTypeNames[] = {
    {kMouseEnd, "end"}, {kMouseParent, "parent"}, {kMouseChild, "child"}, {kMouseParentEnd, "parent_end"}};
// The name of `number` in `names`, or null for one the host does not know.
template <size_t N>
constexpr const char* name_of(const NumberedName (&names)[N], uint32_t number) {
    for (const NumberedName& named : names) {
        if (named.number == number) return named.name;
    }
    return nullptr;
}

inline constexpr uint32_t kHeaderVersion700 = 700;
inline constexpr uint32_t kHeaderVersion800 = 800;

// The lists below give each field's type, name, byte offset, initial value
// and use (frame/record_schema.h). The initial values are the ones gauges
// leave out of their designated initialisers.

// A pixel point handed to mouse handlers, relative to the handler's box.
#define GAUGE_RECORD_PIXPOINT(F) \
    F(int32_t, x, 0, 0, Data)    \
    F(int32_t, y, 4, 0, Data)
FRAME_RECORD(PIXPOINT, 8, GAUGE_RECORD_PIXPOINT);

#define GAUGE_RECORD_MODULE_VAR(F)              \
    F(uint32_t, token, 0, 0, Data)              \
    F(uint32_t[2], reserved_1, 4, {}, Reserved) \
    F(double, value, 12, 0.0, Host)             \
    F(uint8_t[8], reserved_2, 20, {}, Reserved)
FRAME_RECORD(MODULE_VAR, 28, GAUGE_RECORD_MODULE_VAR);

// A stand-alone MODULE_VAR as stored after a gauge header: records sit 32
// bytes apart, so each is followed by one reserved word.
#define GAUGE_RECORD_MODULE_VAR_SLOT(F) \
    F(MODULE_VAR, var, 0, {}, Data)     \
    F(uint32_t, reserved, 28, 0, Reserved)
FRAME_RECORD(MODULE_VAR_SLOT, 32, GAUGE_RECORD_MODULE_VAR_SLOT);

#define GAUGE_RECORD_FAILURE_RECORD(F)      \
    F(uint32_t, failure_key, 0, 0, Data)    \
    F(uint32_t, failure_action, 4, 0, Data) \
    F(uint32_t, reserved, 8, 0, Reserved)
FRAME_RECORD(FAILURE_RECORD, 12, GAUGE_RECORD_FAILURE_RECORD);

#define GAUGE_RECORD_NONLINEARITY(F) \
    F(int32_t, x, 0, 0, Data)        \
    F(int32_t, y, 4, 0, Data)        \
    F(double, value, 8, 0.0, Data)   \
    F(double, degrees, 16, 0.0, Host)
FRAME_RECORD(NONLINEARITY, 24, GAUGE_RECORD_NONLINEARITY);

#define GAUGE_RECORD_MOUSERECT(F)               \
    F(uint32_t, rect_type, 0, kMouseEnd, Data)  \
    F(int32_t, x, 4, 0, Data)                   \
    F(int32_t, y, 8, 0, Data)                   \
    F(int32_t, width, 12, 0, Data)              \
    F(int32_t, height, 16, 0, Data)             \
    F(int32_t, cursor, 20, kCursorNone, Data)   \
    F(uint32_t, help_id, 24, 0, Data)           \
    F(uint32_t, mouse_flags, 28, 0, Data)       \
    F(uint32_t, event_id, 32, 0, Data)          \
    F(MouseHandler, handler, 36, nullptr, Data) \
    F(uint32_t, reserved, 40, 0, Reserved)
FRAME_RECORD(MOUSERECT, 44, GAUGE_RECORD_MOUSERECT);

// The first twelve fields, which both header versions share.
#define GAUGE_RECORD_GAUGEHDR_COMMON(F, version)                   \
    F(uint32_t, header_version, 0, version, Data)                  \
    F(const char*, gauge_name, 4, nullptr, Data)                   \
    F(ELEMENT_HEADER* const*, element_list, 8, nullptr, Data)      \
    F(StandardRoutine, query_routine, 12, nullptr, Data)           \
    F(StandardRoutineWithArg, install_routine, 16, nullptr, Data)  \
    F(StandardRoutine, initialize_routine, 20, nullptr, Data)      \
    F(StandardRoutine, update_routine, 24, nullptr, Data)          \
    F(StandardRoutineWithArg, generate_routine, 28, nullptr, Data) \
    F(StandardRoutine, draw_routine, 32, nullptr, Data)            \
    F(StandardRoutine, kill_routine, 36, nullptr, Data)            \
    F(uint32_t, reserved_1, 40, 0, Reserved)                       \
    F(uint32_t, size_x_mm, 44, 100, Data)

#define GAUGE_RECORD_GAUGEHDR(F)                        \
    GAUGE_RECORD_GAUGEHDR_COMMON(F, kHeaderVersion700)  \
    F(uint32_t[8], reserved_2, 48, {}, Reserved)        \
    F(const MOUSERECT*, mouse_rects, 80, nullptr, Data) \
    F(GaugeCallback, gauge_callback, 84, nullptr, Data) \
    F(uint32_t[7], reserved_3, 88, {}, Reserved)
FRAME_RECORD(GAUGEHDR, 116, GAUGE_RECORD_GAUGEHDR);

// The version-800 header: the common fields, then zeros only (no mouse list,
// no gauge callback).
#define GAUGE_RECORD_GAUGEHDR_V800(F)                  \
    GAUGE_RECORD_GAUGEHDR_COMMON(F, kHeaderVersion800) \
    F(uint32_t[51], reserved_tail, 48, {}, Reserved)
FRAME_RECORD(GAUGEHDR_V800, 252, GAUGE_RECORD_GAUGEHDR_V800);

#define GAUGE_RECORD_ELEMENT_HEADER(F)                              \
    F(uint32_t, element_type, 0, kStaticImage, Data)                \
    F(uint32_t, resource_id, 4, 0, Data)                            \
    F(int32_t, position_x, 8, 0, Data)                              \
    F(int32_t, position_y, 12, 0, Data)                             \
    F(int32_t[2], reserved_1, 16, {}, Reserved)                     \
    F(int32_t, ofs_x, 24, 0, Data)                                  \
    F(int32_t, ofs_y, 28, 0, Data)                                  \
    F(GAUGEHDR*, gauge, 32, nullptr, Data)                          \
    F(void*, reserved_2, 36, nullptr, Reserved)                     \
    F(ELEMENT_HEADER* const*, next_element_list, 40, nullptr, Data) \
    F(const FAILURE_RECORD*, failure_records, 44, nullptr, Data)    \
    F(uint32_t, image_flags, 48, 0, Data)                           \
    F(uint32_t, reserved_3, 52, 0, Reserved)                        \
    F(uint32_t, reserved_4, 56, 0, Reserved)
FRAME_RECORD(ELEMENT_HEADER, 60, GAUGE_RECORD_ELEMENT_HEADER);

// The host's loaded picture, as far as the module may read it.
#define GAUGE_RECORD_HOST_IMAGE_PREFIX(F)    \
    F(uint32_t, displayed_width, 0, 0, Host) \
    F(uint32_t, bitmap_id, 4, 0, Host)       \
    F(uint32_t, displayed_height, 8, 0, Host)
FRAME_RECORD(HOST_IMAGE_PREFIX, 12, GAUGE_RECORD_HOST_IMAGE_PREFIX);

#define GAUGE_RECORD_ELEMENT_STATIC_IMAGE(F)        \
    F(ELEMENT_HEADER, header, 0, {}, Data)          \
    F(HOST_IMAGE_PREFIX*, image, 60, nullptr, Host) \
    F(uint32_t[8], reserved, 64, {}, Reserved)
FRAME_RECORD(ELEMENT_STATIC_IMAGE, 96, GAUGE_RECORD_ELEMENT_STATIC_IMAGE);

#define GAUGE_RECORD_ELEMENT_NEEDLE(F)                     \
    F(ELEMENT_HEADER, header, 0, {}, Data)                 \
    F(MODULE_VAR, source, 60, {}, Data)                    \
    F(uint32_t, reserved_1, 88, 0, Reserved)               \
    F(uint8_t[20], reserved_2, 92, {}, Reserved)           \
    F(NONLINEARITY*, nonlinearity, 112, nullptr, Data)     \
    F(uint32_t, nonlinearity_size, 116, 0, Data)           \
    F(int32_t, max_degrees_per_tick, 120, 0, Data)         \
    F(uint8_t[100], reserved_3, 124, {}, Reserved)         \
    F(NeedleCallback, update_callback, 224, nullptr, Data) \
    F(uint8_t[12], reserved_4, 228, {}, Reserved)
FRAME_RECORD(ELEMENT_NEEDLE, 240, GAUGE_RECORD_ELEMENT_NEEDLE);

#define GAUGE_RECORD_ELEMENT_SLIDER(F)        \
    F(ELEMENT_HEADER, header, 0, {}, Data)    \
    F(uint32_t, reserved_1, 60, 0, Reserved)  \
    F(MODULE_VAR, source_x, 64, {}, Data)     \
    F(uint32_t, reserved_2, 92, 0, Reserved)  \
    F(double, scale_x, 96, 0.0, Data)         \
    F(MODULE_VAR, source_y, 104, {}, Data)    \
    F(uint32_t, reserved_3, 132, 0, Reserved) \
    F(double, scale_y, 136, 0.0, Data)        \
    F(uint8_t[48], reserved_4, 144, {}, Reserved)
FRAME_RECORD(ELEMENT_SLIDER, 192, GAUGE_RECORD_ELEMENT_SLIDER);

#define GAUGE_RECORD_ELEMENT_ICON(F)              \
    F(ELEMENT_HEADER, header, 0, {}, Data)        \
    F(MODULE_VAR, source, 60, {}, Data)           \
    F(uint32_t, reserved_1, 88, 0, Reserved)      \
    F(uint8_t[20], reserved_2, 92, {}, Reserved)  \
    F(uint32_t, frame_count, 112, 1, Data)        \
    F(uint8_t[16], reserved_3, 116, {}, Reserved) \
    F(IconCallback, callback, 132, nullptr, Data)
FRAME_RECORD(ELEMENT_ICON, 136, GAUGE_RECORD_ELEMENT_ICON);

#define GAUGE_RECORD_ELEMENT_MOVING_IMAGE(F)               \
    F(ELEMENT_HEADER, header, 0, {}, Data)                 \
    F(MODULE_VAR, source_x, 60, {}, Data)                  \
    F(uint32_t, reserved_1, 88, 0, Reserved)               \
    F(double, min_x, 92, 0.0, Data)                        \
    F(double, max_x, 100, 0.0, Data)                       \
    F(uint32_t, reserved_2, 108, 0, Reserved)              \
    F(MODULE_VAR, source_y, 112, {}, Data)                 \
    F(uint32_t, reserved_3, 140, 0, Reserved)              \
    F(double, min_y, 144, 0.0, Data)                       \
    F(double, max_y, 152, 0.0, Data)                       \
    F(uint32_t, reserved_4, 160, 0, Reserved)              \
    F(uint8_t[80], reserved_5, 164, {}, Reserved)          \
    F(MovingImageCallback, callback_x, 244, nullptr, Data) \
    F(MovingImageCallback, callback_y, 248, nullptr, Data) \
    F(uint8_t[20], reserved_6, 252, {}, Reserved)
FRAME_RECORD(ELEMENT_MOVING_IMAGE, 272, GAUGE_RECORD_ELEMENT_MOVING_IMAGE);

#define GAUGE_RECORD_ELEMENT_SPRITE(F)                       \
    F(ELEMENT_HEADER, header, 0, {}, Data)                   \
    F(MODULE_VAR, source_x, 60, {}, Data)                    \
    F(uint32_t, reserved_1, 88, 0, Reserved)                 \
    F(double, scale_x, 92, 0.0, Data)                        \
    F(MODULE_VAR, source_y, 100, {}, Data)                   \
    F(uint32_t, reserved_2, 128, 0, Reserved)                \
    F(double, scale_y, 132, 0.0, Data)                       \
    F(MODULE_VAR, source_rotation, 140, {}, Data)            \
    F(uint32_t, reserved_3, 168, 0, Reserved)                \
    F(double, scale_rotation, 172, 0.0, Data)                \
    F(float, texture_scale_x, 180, 1.0f, Data)               \
    F(float, texture_scale_y, 184, 1.0f, Data)               \
    F(uint8_t[128], reserved_4, 188, {}, Reserved)           \
    F(SpriteCallback, callback_x, 316, nullptr, Data)        \
    F(SpriteCallback, callback_y, 320, nullptr, Data)        \
    F(SpriteCallback, callback_rotation, 324, nullptr, Data) \
    F(uint8_t[24], reserved_5, 328, {}, Reserved)
FRAME_RECORD(ELEMENT_SPRITE, 352, GAUGE_RECORD_ELEMENT_SPRITE);

// The record each element type is stored in; a string element has none of
// its own here (the host reads its fields, which this format leaves to it).
struct ElementKind {
    uint32_t type;
    const char* name;
    const frame::RecordInfo* record;  // null for a string
};
inline constexpr ElementKind kElementKinds[] = {
    {kStaticImage, "static image", &frame::schema_of<guest::ELEMENT_STATIC_IMAGE>()},
    {kNeedle, "needle", &frame::schema_of<guest::ELEMENT_NEEDLE>()},
    {kString, "string", nullptr},
    {kSlider, "slider", &frame::schema_of<guest::ELEMENT_SLIDER>()},
    {kIcon, "icon", &frame::schema_of<guest::ELEMENT_ICON>()},
    {kMovingImage, "moving image", &frame::schema_of<guest::ELEMENT_MOVING_IMAGE>()},
    {kSprite, "sprite", &frame::schema_of<guest::ELEMENT_SPRITE>()},
};

// The kind of element `type`, or null for a type the host does not know.
constexpr const ElementKind* element_kind(uint32_t type) {
    for (const ElementKind& kind : kElementKinds) {
        if (kind.type == type) return &kind;
    }
    return nullptr;
}

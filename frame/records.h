// The host's gauge records: a binary format the panel system reads in place.
// Every record is little-endian, 32-bit pointers, packed to 4 bytes; reserved
// fields keep their widths and stay zero in the module's data (the host may
// write its own working data into some of them at run time).
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame/calling_convention.h"

static_assert(sizeof(void*) == 4, "gauge records are a 32-bit format");
static_assert(sizeof(double) == 8 && sizeof(float) == 4);

struct GAUGEHDR;
struct ELEMENT_HEADER;
struct ELEMENT_NEEDLE;
struct ELEMENT_ICON;
struct ELEMENT_MOVING_IMAGE;
struct ELEMENT_SPRITE;

// A pixel point handed to mouse handlers, relative to the handler's box.
struct PIXPOINT {
    int32_t x;
    int32_t y;
};

// Routines the host calls in the module.
using StandardRoutine = void(GAUGE_CALL*)();
using StandardRoutineWithArg = void(GAUGE_CALL*)(uint32_t host_argument);
using GaugeCallback = void(GAUGE_CALL*)(GAUGEHDR* gauge, uint32_t service_id, uint32_t extra);
using NeedleCallback = double(GAUGE_CALL*)(ELEMENT_NEEDLE* element);
using IconCallback = double(GAUGE_CALL*)(ELEMENT_ICON* element);
using MovingImageCallback = double(GAUGE_CALL*)(ELEMENT_MOVING_IMAGE* element);
using SpriteCallback = double(GAUGE_CALL*)(ELEMENT_SPRITE* element);
using MouseHandler = int32_t(GAUGE_CALL*)(PIXPOINT* point, uint32_t mouse_flags);

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

// image_flags values as stored in the records.
inline constexpr uint32_t kImageHidden = 0x40000000;      // bit 30: not drawn
inline constexpr uint32_t kFlagsBackground = 0x00004001;  // bits 0, 14
inline constexpr uint32_t kFlagsPlainBackground = 0x00000001;
inline constexpr uint32_t kFlagsOverlay = 0x00004003;     // bits 0, 1, 14
inline constexpr uint32_t kFlagsLight = 0x40000007;       // bits 0, 1, 2, 30: lamps start hidden

// mouse_flags bits.
inline constexpr uint32_t kMouseClick = 0x20000000;        // one call per click
inline constexpr uint32_t kMouseRepeat = 0x00200000;       // repeated while held
inline constexpr uint32_t kMouseDrag = 0x00800000;         // moves with the button held
inline constexpr uint32_t kMouseClickRepeat = kMouseClick | kMouseRepeat;

enum MouseRectType : uint32_t {
    kMouseEnd = 0,
    kMouseParent = 1,
    kMouseChild = 2,
    kMouseParentEnd = 3,
};

inline constexpr uint32_t kHeaderVersion700 = 700;
inline constexpr uint32_t kHeaderVersion800 = 800;

#pragma pack(push, 4)

struct MODULE_VAR {
    uint32_t token = 0;
    uint32_t reserved_1[2] = {};
    double value = 0.0;
    uint8_t reserved_2[8] = {};
};

// A stand-alone MODULE_VAR as stored after a gauge header: records sit 32
// bytes apart, so each is followed by one reserved word.
struct MODULE_VAR_SLOT {
    MODULE_VAR var;
    uint32_t reserved = 0;
};

struct FAILURE_RECORD {
    uint32_t failure_key = 0;
    uint32_t failure_action = 0;
    uint32_t reserved = 0;
};

struct NONLINEARITY {
    int32_t x = 0;
    int32_t y = 0;
    double value = 0.0;
    double degrees = 0.0;  // the host's: zero in the module
};

struct MOUSERECT {
    uint32_t rect_type = kMouseEnd;
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t cursor = -1;
    uint32_t help_id = 0;
    uint32_t mouse_flags = 0;
    uint32_t event_id = 0;
    MouseHandler handler = nullptr;
    uint32_t reserved = 0;
};

struct GAUGEHDR {
    uint32_t header_version = kHeaderVersion700;
    const char* gauge_name = nullptr;
    ELEMENT_HEADER* const* element_list = nullptr;
    StandardRoutine query_routine = nullptr;
    StandardRoutineWithArg install_routine = nullptr;
    StandardRoutine initialize_routine = nullptr;
    StandardRoutine update_routine = nullptr;
    StandardRoutineWithArg generate_routine = nullptr;
    StandardRoutine draw_routine = nullptr;
    StandardRoutine kill_routine = nullptr;
    uint32_t reserved_1 = 0;
    uint32_t size_x_mm = 100;
    uint32_t reserved_2[8] = {};
    const MOUSERECT* mouse_rects = nullptr;
    GaugeCallback gauge_callback = nullptr;
    uint32_t reserved_3[7] = {};
};

// The version-800 header: the first twelve fields as above, then zeros only
// (no mouse list, no gauge callback).
struct GAUGEHDR_V800 {
    uint32_t header_version = kHeaderVersion800;
    const char* gauge_name = nullptr;
    ELEMENT_HEADER* const* element_list = nullptr;
    StandardRoutine query_routine = nullptr;
    StandardRoutineWithArg install_routine = nullptr;
    StandardRoutine initialize_routine = nullptr;
    StandardRoutine update_routine = nullptr;
    StandardRoutineWithArg generate_routine = nullptr;
    StandardRoutine draw_routine = nullptr;
    StandardRoutine kill_routine = nullptr;
    uint32_t reserved_1 = 0;
    uint32_t size_x_mm = 100;
    uint32_t reserved_tail[51] = {};
};

struct ELEMENT_HEADER {
    uint32_t element_type = kStaticImage;
    uint32_t resource_id = 0;
    int32_t position_x = 0;
    int32_t position_y = 0;
    int32_t reserved_1[2] = {};
    int32_t ofs_x = 0;
    int32_t ofs_y = 0;
    GAUGEHDR* gauge = nullptr;
    void* reserved_2 = nullptr;
    ELEMENT_HEADER* const* next_element_list = nullptr;
    const FAILURE_RECORD* failure_records = nullptr;
    uint32_t image_flags = 0;
    uint32_t reserved_3 = 0;
    uint32_t reserved_4 = 0;
};

// The host's loaded picture, as far as the module may read it: the third
// 32-bit field is the displayed height.
struct HOST_IMAGE_PREFIX {
    uint32_t host_field_1;
    uint32_t host_field_2;
    uint32_t displayed_height;
};

struct ELEMENT_STATIC_IMAGE {
    ELEMENT_HEADER header;
    HOST_IMAGE_PREFIX* image = nullptr;  // the host's; zero in the module
    uint32_t reserved[8] = {};
};

struct ELEMENT_NEEDLE {
    ELEMENT_HEADER header;
    MODULE_VAR source;
    uint32_t reserved_1 = 0;
    uint8_t reserved_2[20] = {};
    NONLINEARITY* nonlinearity = nullptr;
    uint32_t nonlinearity_size = 0;
    int32_t max_degrees_per_tick = 0;
    uint8_t reserved_3[100] = {};
    NeedleCallback update_callback = nullptr;
    uint8_t reserved_4[12] = {};
};

struct ELEMENT_SLIDER {
    ELEMENT_HEADER header;
    uint32_t reserved_1 = 0;
    MODULE_VAR source_x;
    uint32_t reserved_2 = 0;
    double scale_x = 0.0;
    MODULE_VAR source_y;
    uint32_t reserved_3 = 0;
    double scale_y = 0.0;
    uint8_t reserved_4[48] = {};
};

struct ELEMENT_ICON {
    ELEMENT_HEADER header;
    MODULE_VAR source;
    uint32_t reserved_1 = 0;
    uint8_t reserved_2[20] = {};
    uint32_t frame_count = 1;
    uint8_t reserved_3[16] = {};
    IconCallback callback = nullptr;
};

struct ELEMENT_MOVING_IMAGE {
    ELEMENT_HEADER header;
    MODULE_VAR source_x;
    uint32_t reserved_1 = 0;
    double min_x = 0.0;
    double max_x = 0.0;
    uint32_t reserved_2 = 0;
    MODULE_VAR source_y;
    uint32_t reserved_3 = 0;
    double min_y = 0.0;
    double max_y = 0.0;
    uint32_t reserved_4 = 0;
    uint8_t reserved_5[80] = {};
    MovingImageCallback callback_x = nullptr;
    MovingImageCallback callback_y = nullptr;
    uint8_t reserved_6[20] = {};
};

struct ELEMENT_SPRITE {
    ELEMENT_HEADER header;
    MODULE_VAR source_x;
    uint32_t reserved_1 = 0;
    double scale_x = 0.0;
    MODULE_VAR source_y;
    uint32_t reserved_2 = 0;
    double scale_y = 0.0;
    MODULE_VAR source_rotation;
    uint32_t reserved_3 = 0;
    double scale_rotation = 0.0;
    float texture_scale_x = 1.0f;
    float texture_scale_y = 1.0f;
    uint8_t reserved_4[128] = {};
    SpriteCallback callback_x = nullptr;
    SpriteCallback callback_y = nullptr;
    SpriteCallback callback_rotation = nullptr;
    uint8_t reserved_5[24] = {};
};

#pragma pack(pop)

// --- Layout proofs -----------------------------------------------------------

static_assert(sizeof(PIXPOINT) == 8);

static_assert(sizeof(MODULE_VAR) == 28);
static_assert(offsetof(MODULE_VAR, token) == 0);
static_assert(offsetof(MODULE_VAR, reserved_1) == 4);
static_assert(offsetof(MODULE_VAR, value) == 12);
static_assert(offsetof(MODULE_VAR, reserved_2) == 20);

static_assert(sizeof(MODULE_VAR_SLOT) == 32);

static_assert(sizeof(FAILURE_RECORD) == 12);
static_assert(offsetof(FAILURE_RECORD, failure_key) == 0);
static_assert(offsetof(FAILURE_RECORD, failure_action) == 4);
static_assert(offsetof(FAILURE_RECORD, reserved) == 8);

static_assert(sizeof(NONLINEARITY) == 24);
static_assert(offsetof(NONLINEARITY, x) == 0);
static_assert(offsetof(NONLINEARITY, y) == 4);
static_assert(offsetof(NONLINEARITY, value) == 8);
static_assert(offsetof(NONLINEARITY, degrees) == 16);

static_assert(sizeof(MOUSERECT) == 44);
static_assert(offsetof(MOUSERECT, rect_type) == 0);
static_assert(offsetof(MOUSERECT, x) == 4);
static_assert(offsetof(MOUSERECT, y) == 8);
static_assert(offsetof(MOUSERECT, width) == 12);
static_assert(offsetof(MOUSERECT, height) == 16);
static_assert(offsetof(MOUSERECT, cursor) == 20);
static_assert(offsetof(MOUSERECT, help_id) == 24);
static_assert(offsetof(MOUSERECT, mouse_flags) == 28);
static_assert(offsetof(MOUSERECT, event_id) == 32);
static_assert(offsetof(MOUSERECT, handler) == 36);
static_assert(offsetof(MOUSERECT, reserved) == 40);

static_assert(sizeof(GAUGEHDR) == 116);
static_assert(offsetof(GAUGEHDR, header_version) == 0);
static_assert(offsetof(GAUGEHDR, gauge_name) == 4);
static_assert(offsetof(GAUGEHDR, element_list) == 8);
static_assert(offsetof(GAUGEHDR, query_routine) == 12);
static_assert(offsetof(GAUGEHDR, install_routine) == 16);
static_assert(offsetof(GAUGEHDR, initialize_routine) == 20);
static_assert(offsetof(GAUGEHDR, update_routine) == 24);
static_assert(offsetof(GAUGEHDR, generate_routine) == 28);
static_assert(offsetof(GAUGEHDR, draw_routine) == 32);
static_assert(offsetof(GAUGEHDR, kill_routine) == 36);
static_assert(offsetof(GAUGEHDR, reserved_1) == 40);
static_assert(offsetof(GAUGEHDR, size_x_mm) == 44);
static_assert(offsetof(GAUGEHDR, reserved_2) == 48);
static_assert(offsetof(GAUGEHDR, mouse_rects) == 80);
static_assert(offsetof(GAUGEHDR, gauge_callback) == 84);
static_assert(offsetof(GAUGEHDR, reserved_3) == 88);

static_assert(sizeof(GAUGEHDR_V800) == 252);
static_assert(offsetof(GAUGEHDR_V800, gauge_name) == offsetof(GAUGEHDR, gauge_name));
static_assert(offsetof(GAUGEHDR_V800, element_list) == offsetof(GAUGEHDR, element_list));
static_assert(offsetof(GAUGEHDR_V800, query_routine) == offsetof(GAUGEHDR, query_routine));
static_assert(offsetof(GAUGEHDR_V800, kill_routine) == offsetof(GAUGEHDR, kill_routine));
static_assert(offsetof(GAUGEHDR_V800, size_x_mm) == offsetof(GAUGEHDR, size_x_mm));
static_assert(offsetof(GAUGEHDR_V800, reserved_tail) == 48);

static_assert(sizeof(ELEMENT_HEADER) == 60);
static_assert(offsetof(ELEMENT_HEADER, element_type) == 0);
static_assert(offsetof(ELEMENT_HEADER, resource_id) == 4);
static_assert(offsetof(ELEMENT_HEADER, position_x) == 8);
static_assert(offsetof(ELEMENT_HEADER, position_y) == 12);
static_assert(offsetof(ELEMENT_HEADER, reserved_1) == 16);
static_assert(offsetof(ELEMENT_HEADER, ofs_x) == 24);
static_assert(offsetof(ELEMENT_HEADER, ofs_y) == 28);
static_assert(offsetof(ELEMENT_HEADER, gauge) == 32);
static_assert(offsetof(ELEMENT_HEADER, reserved_2) == 36);
static_assert(offsetof(ELEMENT_HEADER, next_element_list) == 40);
static_assert(offsetof(ELEMENT_HEADER, failure_records) == 44);
static_assert(offsetof(ELEMENT_HEADER, image_flags) == 48);
static_assert(offsetof(ELEMENT_HEADER, reserved_3) == 52);
static_assert(offsetof(ELEMENT_HEADER, reserved_4) == 56);

static_assert(sizeof(HOST_IMAGE_PREFIX) == 12);
static_assert(offsetof(HOST_IMAGE_PREFIX, displayed_height) == 8);

static_assert(sizeof(ELEMENT_STATIC_IMAGE) == 96);
static_assert(offsetof(ELEMENT_STATIC_IMAGE, image) == 60);
static_assert(offsetof(ELEMENT_STATIC_IMAGE, reserved) == 64);

static_assert(sizeof(ELEMENT_NEEDLE) == 240);
static_assert(offsetof(ELEMENT_NEEDLE, source) == 60);
static_assert(offsetof(ELEMENT_NEEDLE, reserved_1) == 88);
static_assert(offsetof(ELEMENT_NEEDLE, reserved_2) == 92);
static_assert(offsetof(ELEMENT_NEEDLE, nonlinearity) == 112);
static_assert(offsetof(ELEMENT_NEEDLE, nonlinearity_size) == 116);
static_assert(offsetof(ELEMENT_NEEDLE, max_degrees_per_tick) == 120);
static_assert(offsetof(ELEMENT_NEEDLE, reserved_3) == 124);
static_assert(offsetof(ELEMENT_NEEDLE, update_callback) == 224);
static_assert(offsetof(ELEMENT_NEEDLE, reserved_4) == 228);

static_assert(sizeof(ELEMENT_SLIDER) == 192);
static_assert(offsetof(ELEMENT_SLIDER, reserved_1) == 60);
static_assert(offsetof(ELEMENT_SLIDER, source_x) == 64);
static_assert(offsetof(ELEMENT_SLIDER, reserved_2) == 92);
static_assert(offsetof(ELEMENT_SLIDER, scale_x) == 96);
static_assert(offsetof(ELEMENT_SLIDER, source_y) == 104);
static_assert(offsetof(ELEMENT_SLIDER, reserved_3) == 132);
static_assert(offsetof(ELEMENT_SLIDER, scale_y) == 136);
static_assert(offsetof(ELEMENT_SLIDER, reserved_4) == 144);

static_assert(sizeof(ELEMENT_ICON) == 136);
static_assert(offsetof(ELEMENT_ICON, source) == 60);
static_assert(offsetof(ELEMENT_ICON, reserved_1) == 88);
static_assert(offsetof(ELEMENT_ICON, reserved_2) == 92);
static_assert(offsetof(ELEMENT_ICON, frame_count) == 112);
static_assert(offsetof(ELEMENT_ICON, reserved_3) == 116);
static_assert(offsetof(ELEMENT_ICON, callback) == 132);

static_assert(sizeof(ELEMENT_MOVING_IMAGE) == 272);
static_assert(offsetof(ELEMENT_MOVING_IMAGE, source_x) == 60);
static_assert(offsetof(ELEMENT_MOVING_IMAGE, reserved_1) == 88);
static_assert(offsetof(ELEMENT_MOVING_IMAGE, min_x) == 92);
static_assert(offsetof(ELEMENT_MOVING_IMAGE, max_x) == 100);
static_assert(offsetof(ELEMENT_MOVING_IMAGE, reserved_2) == 108);
static_assert(offsetof(ELEMENT_MOVING_IMAGE, source_y) == 112);
static_assert(offsetof(ELEMENT_MOVING_IMAGE, reserved_3) == 140);
static_assert(offsetof(ELEMENT_MOVING_IMAGE, min_y) == 144);
static_assert(offsetof(ELEMENT_MOVING_IMAGE, max_y) == 152);
static_assert(offsetof(ELEMENT_MOVING_IMAGE, reserved_4) == 160);
static_assert(offsetof(ELEMENT_MOVING_IMAGE, reserved_5) == 164);
static_assert(offsetof(ELEMENT_MOVING_IMAGE, callback_x) == 244);
static_assert(offsetof(ELEMENT_MOVING_IMAGE, callback_y) == 248);
static_assert(offsetof(ELEMENT_MOVING_IMAGE, reserved_6) == 252);

static_assert(sizeof(ELEMENT_SPRITE) == 352);
static_assert(offsetof(ELEMENT_SPRITE, source_x) == 60);
static_assert(offsetof(ELEMENT_SPRITE, reserved_1) == 88);
static_assert(offsetof(ELEMENT_SPRITE, scale_x) == 92);
static_assert(offsetof(ELEMENT_SPRITE, source_y) == 100);
static_assert(offsetof(ELEMENT_SPRITE, reserved_2) == 128);
static_assert(offsetof(ELEMENT_SPRITE, scale_y) == 132);
static_assert(offsetof(ELEMENT_SPRITE, source_rotation) == 140);
static_assert(offsetof(ELEMENT_SPRITE, reserved_3) == 168);
static_assert(offsetof(ELEMENT_SPRITE, scale_rotation) == 172);
static_assert(offsetof(ELEMENT_SPRITE, texture_scale_x) == 180);
static_assert(offsetof(ELEMENT_SPRITE, texture_scale_y) == 184);
static_assert(offsetof(ELEMENT_SPRITE, reserved_4) == 188);
static_assert(offsetof(ELEMENT_SPRITE, callback_x) == 316);
static_assert(offsetof(ELEMENT_SPRITE, callback_y) == 320);
static_assert(offsetof(ELEMENT_SPRITE, callback_rotation) == 324);
static_assert(offsetof(ELEMENT_SPRITE, reserved_5) == 328);

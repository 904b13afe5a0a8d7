#include "support/gauge_records.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <map>
#include <set>

#include "korvane/gauge_table.h"
#include "support/korvane_bench.h"

namespace gauge_records {

using korvane_bench::native;

bool operator==(const Failure& a, const Failure& b) { return a.key == b.key && a.action == b.action; }
void PrintTo(const Failure& failure, std::ostream* os) { *os << "(" << failure.key << ", " << failure.action << ")"; }

namespace {

// Walks are cut here, so a list without its terminator ends the test with a
// failure, not a crash.
constexpr size_t kMaxListLength = 256;

bool all_zero(const unsigned char* bytes, size_t size) {
    return std::all_of(bytes, bytes + size, [](unsigned char b) { return b == 0; });
}

const char* kind_name(uint32_t type) {
    const ElementKind* kind = element_kind(type);
    return kind != nullptr ? kind->name : "unknown kind";
}

// Every field the tables call reserved or the host's is zero in the module's
// data, in the record at `bytes` and the records embedded in it.
void expect_zero_at_load(const unsigned char* bytes, const frame::RecordInfo& record, const std::string& prefix) {
    for (const frame::FieldInfo& field : record.fields) {
        const std::string name = prefix + "." + field.name;
        if (field.record != nullptr) {
            expect_zero_at_load(bytes + field.offset, *field.record, name);
        } else if (field.zero_at_load()) {
            EXPECT_TRUE(all_zero(bytes + field.offset, field.size))
                << name << " is not zero" << (field.role == frame::FieldRole::kHost ? " (the host's field)" : "");
        }
    }
}

template <typename Record>
void expect_zero_at_load(const Record& record) {
    const frame::RecordInfo& schema = frame::schema_of<korvane_bench::guest_view_t<Record>>();
    expect_zero_at_load(reinterpret_cast<const unsigned char*>(&record), schema, schema.name);
}

// Entries of a null-terminated list up to the terminator.
template <typename T>
size_t list_length(const T* const* list) {
    size_t n = 0;
    while (n < kMaxListLength && list[n] != nullptr) ++n;
    return n;
}

size_t failure_count(const FAILURE_RECORD* list) {
    size_t n = 0;
    while (n < kMaxListLength && list[n].failure_key != 0) ++n;
    return n;
}

size_t mouse_count(const MOUSERECT* list) {
    size_t n = 0;
    while (n < kMaxListLength && list[n].rect_type != kMouseEnd) ++n;
    return n;
}

// The stand-alone variable `index` behind the header, copied out: the slots
// follow the 116-byte header 32 bytes apart.
MODULE_VAR_SLOT standalone_slot(const GAUGEHDR& gauge, size_t index) {
    MODULE_VAR_SLOT slot;
    std::memcpy(&slot, reinterpret_cast<const char*>(&gauge) + sizeof(GAUGEHDR) + index * sizeof(MODULE_VAR_SLOT),
                sizeof(slot));
    return slot;
}

// The rest of a variable is checked with its record.
void check_var(const MODULE_VAR& var, uint32_t token, const char* which) { EXPECT_EQ(var.token, token) << which; }

void check_callback(bool present, bool want, const char* which) {
    EXPECT_EQ(present, want) << which << (want ? " missing" : " present");
}

// A variable together with the callback that may replace its value.
void check_source(const MODULE_VAR& var, bool callback, uint32_t token, bool want_callback, const char* which) {
    check_var(var, token, which);
    check_callback(callback, want_callback, which);
}

void check_failures(const FAILURE_RECORD* list, const FailureList& want) {
    if (!want) {
        EXPECT_EQ(list, nullptr) << "a failure list where none belongs";
        return;
    }
    ASSERT_NE(list, nullptr) << "no failure list";
    const size_t count = failure_count(list);
    std::vector<Failure> got;
    for (size_t i = 0; i < count; ++i) {
        expect_zero_at_load(list[i]);
        got.push_back({list[i].failure_key, list[i].failure_action});
    }
    EXPECT_EQ(got, *want) << "failure list (key, action) in stored order";
    EXPECT_TRUE(all_zero(reinterpret_cast<const unsigned char*>(&list[count]), sizeof(FAILURE_RECORD)))
        << "the terminator is all zero";
}

void check_table(const ELEMENT_NEEDLE& n, const std::vector<TablePoint>& want) {
    ASSERT_EQ(n.nonlinearity_size, want.size()) << "table size";
    if (want.empty()) {
        EXPECT_EQ(n.nonlinearity, nullptr) << "a table where none belongs";
        return;
    }
    ASSERT_NE(n.nonlinearity, nullptr) << "no table";
    for (size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE("table point " + std::to_string(i));
        EXPECT_EQ(n.nonlinearity[i].x, want[i].x);
        EXPECT_EQ(n.nonlinearity[i].y, want[i].y);
        EXPECT_EQ(n.nonlinearity[i].value, want[i].value);
        expect_zero_at_load(n.nonlinearity[i]);
    }
}

void check_kind(const ELEMENT_HEADER& e, const Element& want) {
    switch (want.type) {
        case kStaticImage: break;
        case kNeedle: {
            const auto& n = reinterpret_cast<const ELEMENT_NEEDLE&>(e);
            check_source(n.source, n.update_callback != nullptr, want.token, want.callback, "source");
            EXPECT_EQ(n.max_degrees_per_tick, want.max_degrees);
            check_table(n, want.table);
            break;
        }
        case kSlider: {
            const auto& s = reinterpret_cast<const ELEMENT_SLIDER&>(e);
            check_var(s.source_x, want.token_x, "x axis");
            check_var(s.source_y, want.token, "y axis");
            EXPECT_EQ(s.scale_x, want.scale_x);
            EXPECT_EQ(s.scale_y, want.scale_y);
            break;
        }
        case kIcon: {
            const auto& i = reinterpret_cast<const ELEMENT_ICON&>(e);
            check_source(i.source, i.callback != nullptr, want.token, want.callback, "source");
            EXPECT_EQ(i.frame_count, want.frames);
            break;
        }
        case kMovingImage: {
            const auto& m = reinterpret_cast<const ELEMENT_MOVING_IMAGE&>(e);
            check_source(m.source_x, m.callback_x != nullptr, want.token_x, want.callback_x, "x axis");
            EXPECT_EQ(m.min_x, want.min_x);
            EXPECT_EQ(m.max_x, want.max_x);
            check_source(m.source_y, m.callback_y != nullptr, want.token, want.callback, "y axis");
            EXPECT_EQ(m.min_y, want.min_y);
            EXPECT_EQ(m.max_y, want.max_y);
            break;
        }
        case kSprite: {
            const auto& s = reinterpret_cast<const ELEMENT_SPRITE&>(e);
            check_source(s.source_x, s.callback_x != nullptr, want.token_x, want.callback_x, "x axis");
            check_source(s.source_y, s.callback_y != nullptr, want.token, want.callback, "y axis");
            check_source(s.source_rotation, s.callback_rotation != nullptr, want.rotation_token, want.rotation_callback,
                         "rotation");
            EXPECT_EQ(s.scale_x, want.scale_x);
            EXPECT_EQ(s.scale_y, want.scale_y);
            EXPECT_EQ(s.scale_rotation, want.scale_rotation);
            EXPECT_EQ(s.texture_scale_x, want.texture_scale_x);
            EXPECT_EQ(s.texture_scale_y, want.texture_scale_y);
            break;
        }
        default: ADD_FAILURE() << "no check for element type " << want.type; break;
    }
}

void check_element(const ELEMENT_HEADER& e, const Element& want, const GAUGEHDR& gauge) {
    // The kind decides how much of the record is read: a wrong one ends here.
    ASSERT_EQ(e.element_type, want.type) << "element type";
    EXPECT_EQ(e.resource_id, want.bitmap);
    EXPECT_EQ(e.position_x, want.position.x);
    EXPECT_EQ(e.position_y, want.position.y);
    EXPECT_EQ(e.ofs_x, want.pivot.x);
    EXPECT_EQ(e.ofs_y, want.pivot.y);
    EXPECT_EQ(e.gauge, &gauge) << "each element names its own gauge";
    EXPECT_EQ(e.image_flags, want.flags);
    check_failures(e.failure_records, want.failures);
    check_kind(e, want);
    if (const ElementKind* kind = element_kind(e.element_type); kind != nullptr && kind->record != nullptr) {
        expect_zero_at_load(reinterpret_cast<const unsigned char*>(&e), *kind->record, kind->record->name);
    }
}

// The gauge's elements in drawing order, after checking that they hang
// together as `shape` says; empty when they do not.
std::vector<const ELEMENT_HEADER*> walk_elements(const GAUGEHDR& gauge, Shape shape, size_t count) {
    std::vector<const ELEMENT_HEADER*> elements;
    if (gauge.element_list == nullptr || gauge.element_list[0] == nullptr) {
        ADD_FAILURE() << "no root element";
        return {};
    }
    EXPECT_EQ(gauge.element_list[1], nullptr) << "one root only";
    const ELEMENT_HEADER* root = gauge.element_list[0];
    elements.push_back(root);
    if (shape == Shape::kChain) {
        for (const ELEMENT_HEADER* e = root; elements.size() < count; e = elements.back()) {
            ELEMENT_HEADER* const* next = e->next_element_list;
            if (next == nullptr || next[0] == nullptr) {
                ADD_FAILURE() << "the chain ends after " << elements.size() << " elements, not " << count;
                return {};
            }
            EXPECT_EQ(next[1], nullptr) << "one successor only, after element " << elements.size() - 1;
            elements.push_back(next[0]);
        }
        EXPECT_EQ(elements.back()->next_element_list, nullptr) << "the chain ends with element " << count - 1;
    } else {
        ELEMENT_HEADER* const* children = root->next_element_list;
        if (count > 1 && children == nullptr) {
            ADD_FAILURE() << "the root has no list";
            return {};
        }
        const size_t n = children != nullptr ? list_length(children) : 0;
        if (n + 1 != count) {
            ADD_FAILURE() << "the root's list holds " << n << " elements, not " << count - 1;
            return {};
        }
        for (size_t i = 0; i < n; ++i) {
            EXPECT_EQ(children[i]->next_element_list, nullptr) << "element " << i + 1 << " has a list";
            elements.push_back(children[i]);
        }
    }
    return elements;
}

void check_elements(const GAUGEHDR& gauge, const Gauge& want) {
    ASSERT_FALSE(want.elements.empty());
    const std::vector<const ELEMENT_HEADER*> elements = walk_elements(gauge, want.shape, want.elements.size());
    if (elements.empty()) return;
    const FAILURE_RECORD* gauge_failures = nullptr;
    for (size_t i = 0; i < elements.size(); ++i) {
        SCOPED_TRACE("element " + std::to_string(i) + " (" + kind_name(want.elements[i].type) + ")");
        check_element(*elements[i], want.elements[i], gauge);
        if (const FAILURE_RECORD* list = elements[i]->failure_records; list != nullptr) {
            if (gauge_failures == nullptr) gauge_failures = list;
            EXPECT_EQ(list, gauge_failures) << "one failure list per gauge";
        }
    }
}

void check_mouse(const MOUSERECT* list, const std::vector<Mouse>& want) {
    ASSERT_FALSE(want.empty());
    ASSERT_EQ(want.back().type, kMouseEnd) << "the expected list lacks its end record";
    ASSERT_NE(list, nullptr) << "no mouse list";
    std::set<MouseHandler> handlers;
    for (size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE("mouse record " + std::to_string(i));
        const MOUSERECT& r = list[i];
        const Mouse& w = want[i];
        EXPECT_EQ(r.rect_type, w.type);
        EXPECT_EQ(r.x, w.x);
        EXPECT_EQ(r.y, w.y);
        EXPECT_EQ(r.width, w.width);
        EXPECT_EQ(r.height, w.height);
        EXPECT_EQ(r.cursor, w.cursor);
        EXPECT_EQ(r.help_id, w.help_id);
        EXPECT_EQ(r.mouse_flags, w.flags);
        EXPECT_EQ(r.event_id, w.event_id);
        check_callback(r.handler != nullptr, w.handler, "handler");
        expect_zero_at_load(r);
        EXPECT_FALSE(r.event_id != 0 && r.handler != nullptr) << "a box either sends an event or calls a handler";
        if (r.handler != nullptr) {
            EXPECT_TRUE(handlers.insert(r.handler).second) << "each box has a handler of its own";
        }
        if (r.rect_type == kMouseEnd) break;
    }
}

void check_header(const bench::Module& module, const GAUGEHDR& gauge, const Gauge& want) {
    EXPECT_EQ(gauge.header_version, kHeaderVersion700);
    ASSERT_NE(gauge.gauge_name, nullptr);
    EXPECT_STREQ(gauge.gauge_name, want.name.c_str());
    EXPECT_EQ(gauge.size_x_mm, 100u);
    expect_zero_at_load(gauge);
    // The standard routines are called, gauge by gauge, with the linkage.
    const GaugeCallback shared = shared_empty_callback(module);
    EXPECT_NE(gauge.gauge_callback, nullptr);
    if (want.own_callback) {
        EXPECT_NE(gauge.gauge_callback, shared) << "the shared empty callback, not one of its own";
    } else {
        EXPECT_EQ(gauge.gauge_callback, shared) << "a callback of its own, not the shared empty one";
    }
}

void check_table_entry(const bench::Module& module, const GAUGEHDR* gauge, const Gauge& want) {
    const std::vector<bench::GaugePtr>& table = module.gauges();
    ASSERT_EQ(table.size(), korvane::kGaugeCount);
    ASSERT_LT(want.entry, table.size());
    EXPECT_EQ(native(table[want.entry]), gauge) << "not at entry " << want.entry;
    EXPECT_EQ(
        std::count_if(table.begin(), table.end(), [&](bench::GaugePtr listed) { return native(listed) == gauge; }), 1)
        << "listed more than once";
}

void check_standalone(const GAUGEHDR& gauge, const std::vector<uint32_t>& tokens) {
    for (size_t i = 0; i < tokens.size(); ++i) {
        SCOPED_TRACE("stand-alone variable " + std::to_string(i));
        const MODULE_VAR_SLOT slot = standalone_slot(gauge, i);
        check_var(slot.var, tokens[i], "variable");
        expect_zero_at_load(slot);
    }
}

}  // namespace

std::vector<Mouse> whole_gauge_mouse(uint32_t help_id) {
    return {{.type = kMouseParent, .help_id = help_id}, {.type = kMouseParentEnd}, {.type = kMouseEnd}};
}

std::vector<Mouse> boxed_mouse(uint32_t help_id, const Mouse& box, const std::vector<Mouse>& children) {
    std::vector<Mouse> list = {{.type = kMouseParent, .help_id = help_id}, box};
    list.insert(list.end(), children.begin(), children.end());
    list.insert(list.end(), {{.type = kMouseParentEnd}, {.type = kMouseParentEnd}, {.type = kMouseEnd}});
    return list;
}

void check_gauge(const bench::Module& module, const Gauge& want) {
    SCOPED_TRACE("gauge " + want.name);
    const GAUGEHDR* gauge = native(module.gauge(want.name));
    ASSERT_NE(gauge, nullptr) << "no gauge " << want.name;
    check_table_entry(module, gauge, want);
    check_header(module, *gauge, want);
    check_standalone(*gauge, want.standalone);
    check_elements(*gauge, want);
    check_mouse(gauge->mouse_rects, want.mouse);
}

std::vector<Record> records_of(const GAUGEHDR& gauge, size_t standalone_count) {
    const std::string owner = gauge.gauge_name != nullptr ? gauge.gauge_name : "";
    std::vector<Record> records;
    const auto add = [&](const void* address, size_t size, std::string what) {
        const auto begin = reinterpret_cast<uintptr_t>(address);
        records.push_back({begin, begin + size, owner, std::move(what)});
    };
    add(&gauge, sizeof(GAUGEHDR), "header");
    for (size_t i = 0; i < standalone_count; ++i) {
        add(reinterpret_cast<const char*>(&gauge) + sizeof(GAUGEHDR) + i * sizeof(MODULE_VAR_SLOT),
            sizeof(MODULE_VAR_SLOT), "stand-alone variable " + std::to_string(i));
    }
    if (gauge.mouse_rects != nullptr) {
        add(gauge.mouse_rects, (mouse_count(gauge.mouse_rects) + 1) * sizeof(MOUSERECT), "mouse list");
    }

    std::set<const FAILURE_RECORD*> failure_lists;
    std::vector<std::pair<ELEMENT_HEADER* const*, std::string>> lists = {{gauge.element_list, "root list"}};
    size_t seen = 0;
    while (!lists.empty() && seen < kMaxListLength) {
        auto [list, name] = lists.back();
        lists.pop_back();
        if (list == nullptr) continue;
        const size_t n = list_length(list);
        add(list, (n + 1) * sizeof(void*), name);
        for (size_t i = 0; i < n; ++i, ++seen) {
            const ELEMENT_HEADER* e = list[i];
            const std::string element = "element " + std::to_string(seen) + " (" + kind_name(e->element_type) + ")";
            const ElementKind* kind = element_kind(e->element_type);
            add(e, kind != nullptr && kind->record != nullptr ? kind->record->size : sizeof(ELEMENT_HEADER), element);
            if (e->element_type == kNeedle) {
                const auto* needle = reinterpret_cast<const ELEMENT_NEEDLE*>(e);
                if (needle->nonlinearity != nullptr && needle->nonlinearity_size != 0) {
                    add(needle->nonlinearity, needle->nonlinearity_size * sizeof(NONLINEARITY), element + " table");
                }
            }
            if (e->failure_records != nullptr && failure_lists.insert(e->failure_records).second) {
                add(e->failure_records, (failure_count(e->failure_records) + 1) * sizeof(FAILURE_RECORD),
                    "failure list");
            }
            lists.emplace_back(e->next_element_list, element + " list");
        }
    }
    return records;
}

void expect_records_apart(const bench::Module& module, const std::vector<Gauge>& gauges) {
    std::vector<Record> records;
    for (const Gauge& want : gauges) {
        const GAUGEHDR* gauge = native(module.gauge(want.name));
        ASSERT_NE(gauge, nullptr) << "no gauge " << want.name;
        const std::vector<Record> own = records_of(*gauge, want.standalone.size());
        records.insert(records.end(), own.begin(), own.end());
    }
    // In address order any overlap shows between neighbours.
    std::sort(records.begin(), records.end(), [](const Record& a, const Record& b) { return a.begin < b.begin; });
    for (size_t i = 1; i < records.size(); ++i) {
        const Record& a = records[i - 1];
        const Record& b = records[i];
        EXPECT_LE(a.end, b.begin) << a.owner << " " << a.what << " overlaps " << b.owner << " " << b.what;
    }
}

GaugeCallback shared_empty_callback(const bench::Module& module) {
    std::map<GaugeCallback, size_t> holders;
    for (const bench::GaugePtr gauge : module.gauges()) ++holders[native(gauge)->gauge_callback];
    const auto most = std::max_element(holders.begin(), holders.end(),
                                       [](const auto& a, const auto& b) { return a.second < b.second; });
    return most != holders.end() ? most->first : nullptr;
}

}  // namespace gauge_records

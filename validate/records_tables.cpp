#include "validate/records_walk.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "runtime/evaluate.h"

namespace validate::walk {

// --- Failure lists and tables ---------------------------------------------------------

bool Walker::check_failures(GaugeContext& context, const ElementRecord& element, uint32_t address) {
    const std::string& g = context.gauge->name;
    const std::string& e = element.label;
    for (size_t i = 0; i <= kMaxFailureRecords; ++i) {
        const std::optional<guest::FAILURE_RECORD> record =
            read<guest::FAILURE_RECORD>(address + i * sizeof(guest::FAILURE_RECORD));
        if (!record) {
            fail(Check::kFailureLists, g, e, kFailureRecords,
                 "runs out of the module's data after " + std::to_string(i) + " records without its end record");
            return false;
        }
        if (record->failure_key == 0) {
            check_reserved(g, e, bytes_of(*record), kFailureSchema, false, indexed(kFailureRecords, i) + ".");
            add_span(RecordSpan::Kind::kFailureList, address, (i + 1) * sizeof(guest::FAILURE_RECORD), context.index,
                     "failure list of " + e);
            return true;
        }
        if (record->failure_action > kLastFailureAction) {
            fail(Check::kFailureLists, g, e, indexed(kFailureRecords, i),
                 "key " + std::to_string(record->failure_key) + " with action " +
                     std::to_string(record->failure_action) +
                     " is no failure record of the host (actions 0, 1, 2): the list lacks its end or is broken");
            return false;
        }
        check_reserved(g, e, bytes_of(*record), kFailureSchema, false, indexed(kFailureRecords, i) + ".");
    }
    fail(Check::kFailureLists, g, e, kFailureRecords,
         "has no end record within " + std::to_string(kMaxFailureRecords) + " records");
    return false;
}

// A needle's calibration table: its size, its span in memory and each point
// on its own; then, if every point is sound, their order.
bool Walker::check_table(GaugeContext& context, const ElementRecord& element, const guest::ELEMENT_NEEDLE& needle) {
    const std::string& g = context.gauge->name;
    const std::string& e = element.label;
    const uint32_t address = needle.nonlinearity.address;
    const uint32_t size = needle.nonlinearity_size;
    if (address == 0) {
        if (size != 0) {
            fail(Check::kCalibrationTables, g, e, kTableSize, "is " + std::to_string(size) + " without a table");
            return false;
        }
        return true;
    }
    if (size < 2 || size > kMaxTablePoints) {
        fail(Check::kCalibrationTables, g, e, kTableSize,
             "is " + std::to_string(size) + ": a table holds 2 to " + std::to_string(kMaxTablePoints) + " points");
        return false;
    }
    std::vector<guest::NONLINEARITY> points(size);
    if (!read(address, points.data(), size * sizeof(guest::NONLINEARITY))) {
        fail(Check::kCalibrationTables, g, e, kTable,
             "the table of " + std::to_string(size) + " points runs outside the module's data");
        return false;
    }
    add_span(RecordSpan::Kind::kTable, address, size * sizeof(guest::NONLINEARITY), context.index, "table of " + e);

    const int32_t pivot_x = needle.header.position_x;
    const int32_t pivot_y = needle.header.position_y;
    const int64_t reach = coordinate_reach(context);
    // Directions from a pivot out of reach (failed as a field) say nothing.
    const bool pivot_in_reach = std::abs(int64_t{pivot_x}) <= reach && std::abs(int64_t{pivot_y}) <= reach;
    bool sound = true;
    for (uint32_t i = 0; i < size; ++i) {
        const guest::NONLINEARITY& point = points[i];
        const std::string field = indexed(kTable, i);
        if (!std::isfinite(point.value)) {
            fail(Check::kCalibrationTables, g, e, field + "." + kPointValue,
                 "is " + number(point.value) + ", not a finite number");
            sound = false;
        }
        if (point.x == pivot_x && point.y == pivot_y) {
            fail(Check::kCalibrationTables, g, e, field, "lies on the pivot: it gives the needle no direction");
            sound = false;
        }
        if (point.degrees != 0.0) {
            fail(Check::kReservedFields, g, e, field + "." + kPointDegrees, "is not zero (the host's field)");
        }
    }
    if (!sound) return true;  // the table is readable; its findings stand
    check_table_order(g, e, points, pivot_x, pivot_y, pivot_in_reach);
    return true;
}

// KV009: the points' values run one way, and each step turns the needle
// clockwise by less than half a turn (when the pivot is within reach).
void Walker::check_table_order(const std::string& g, const std::string& e,
                               const std::vector<guest::NONLINEARITY>& points, int32_t pivot_x, int32_t pivot_y,
                               bool pivot_in_reach) {
    const uint32_t size = static_cast<uint32_t>(points.size());
    const bool ascending = points[1].value > points[0].value;
    for (uint32_t i = 0; i + 1 < size; ++i) {
        const guest::NONLINEARITY& a = points[i];
        const guest::NONLINEARITY& b = points[i + 1];
        const std::string field = indexed(kTable, i + 1);
        if (ascending ? !(b.value > a.value) : !(b.value < a.value)) {
            fail(Check::kCalibrationTables, g, e, field + "." + kPointValue,
                 number(b.value) + " after " + number(a.value) + ": the values do not run one way");
        }
        if (!pivot_in_reach) continue;
        const double from = runtime::direction_degrees(pivot_x, pivot_y, a.x, a.y);
        const double to = runtime::direction_degrees(pivot_x, pivot_y, b.x, b.y);
        const double turn = runtime::normalize_degrees(to - from);
        if (!(turn > 0.0 && turn < 180.0)) {
            fail(Check::kCalibrationTables, g, e, field,
                 "the step from point " + std::to_string(i) + " turns " + number(turn) +
                     " degrees clockwise, not more than 0 and less than 180");
        }
    }
}

int64_t Walker::coordinate_reach(const GaugeContext& context) {
    if (!context.background || context.background->width == 0 || context.background->height == 0) return kMaxCoordinate;
    const int64_t side = std::max(context.background->width, context.background->height);
    return std::min(kMaxCoordinate, kCoordinateReachPerSide * side);
}

}  // namespace validate::walk

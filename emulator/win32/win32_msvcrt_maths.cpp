// The msvcrt rows of win32_functions.h that compute: the maths library and
// the x87 helpers (_CI*, _ftol) MSVC's code calls.
#include <cmath>

#include "emulator/win32/win32_context.h"

namespace emulator::win32 {

double msvcrt_sin(Context&, const Args& args) {
    const auto [x] = args.take<double>();
    return std::sin(x);
}
double msvcrt_cos(Context&, const Args& args) {
    const auto [x] = args.take<double>();
    return std::cos(x);
}
double msvcrt_tan(Context&, const Args& args) {
    const auto [x] = args.take<double>();
    return std::tan(x);
}
double msvcrt_asin(Context&, const Args& args) {
    const auto [x] = args.take<double>();
    return std::asin(x);
}
double msvcrt_acos(Context&, const Args& args) {
    const auto [x] = args.take<double>();
    return std::acos(x);
}
double msvcrt_atan(Context&, const Args& args) {
    const auto [x] = args.take<double>();
    return std::atan(x);
}
double msvcrt_atan2(Context&, const Args& args) {
    const auto [y, x] = args.take<double, double>();
    return std::atan2(y, x);
}
double msvcrt_sqrt(Context&, const Args& args) {
    const auto [x] = args.take<double>();
    return std::sqrt(x);
}
double msvcrt_pow(Context&, const Args& args) {
    const auto [x, y] = args.take<double, double>();
    return std::pow(x, y);
}
double msvcrt_exp(Context&, const Args& args) {
    const auto [x] = args.take<double>();
    return std::exp(x);
}
double msvcrt_log(Context&, const Args& args) {
    const auto [x] = args.take<double>();
    return std::log(x);
}
double msvcrt_log10(Context&, const Args& args) {
    const auto [x] = args.take<double>();
    return std::log10(x);
}
double msvcrt_floor(Context&, const Args& args) {
    const auto [x] = args.take<double>();
    return std::floor(x);
}
double msvcrt_ceil(Context&, const Args& args) {
    const auto [x] = args.take<double>();
    return std::ceil(x);
}
double msvcrt_fabs(Context&, const Args& args) {
    const auto [x] = args.take<double>();
    return std::fabs(x);
}
double msvcrt_fmod(Context&, const Args& args) {
    const auto [x, y] = args.take<double, double>();
    return std::fmod(x, y);
}
double msvcrt_modf(Context& context, const Args& args) {
    const auto [x, whole_part] = args.take<double, uint32_t>();
    double whole = 0;
    const double fraction = std::modf(x, &whole);
    context.memory.write(GuestPtr<double>(whole_part)) = whole;
    return fraction;
}
double msvcrt_ldexp(Context&, const Args& args) {
    const auto [x, exponent] = args.take<double, int32_t>();
    return std::ldexp(x, exponent);
}
double msvcrt_frexp(Context& context, const Args& args) {
    const auto [x, exponent_cell] = args.take<double, uint32_t>();
    int exponent = 0;
    const double fraction = std::frexp(x, &exponent);
    context.memory.write(GuestPtr<int32_t>(exponent_cell)) = exponent;
    return fraction;
}
double msvcrt__hypot(Context&, const Args& args) {
    const auto [x, y] = args.take<double, double>();
    return std::hypot(x, y);
}
double msvcrt__copysign(Context&, const Args& args) {
    const auto [x, y] = args.take<double, double>();
    return std::copysign(x, y);
}
uint32_t msvcrt__isnan(Context&, const Args& args) {
    const auto [x] = args.take<double>();
    return std::isnan(x) ? 1 : 0;
}
uint32_t msvcrt__finite(Context&, const Args& args) {
    const auto [x] = args.take<double>();
    return std::isfinite(x) ? 1 : 0;
}
double msvcrt__CIsin(Context& context, const Args& args) { return msvcrt_sin(context, args); }
double msvcrt__CIcos(Context& context, const Args& args) { return msvcrt_cos(context, args); }
double msvcrt__CItan(Context& context, const Args& args) { return msvcrt_tan(context, args); }
double msvcrt__CIasin(Context& context, const Args& args) { return msvcrt_asin(context, args); }
double msvcrt__CIacos(Context& context, const Args& args) { return msvcrt_acos(context, args); }
double msvcrt__CIatan(Context& context, const Args& args) { return msvcrt_atan(context, args); }
double msvcrt__CIsqrt(Context& context, const Args& args) { return msvcrt_sqrt(context, args); }
double msvcrt__CIexp(Context& context, const Args& args) { return msvcrt_exp(context, args); }
double msvcrt__CIlog(Context& context, const Args& args) { return msvcrt_log(context, args); }
double msvcrt__CIlog10(Context& context, const Args& args) { return msvcrt_log10(context, args); }
double msvcrt__CIpow(Context& context, const Args& args) { return msvcrt_pow(context, args); }
double msvcrt__CIatan2(Context& context, const Args& args) { return msvcrt_atan2(context, args); }
double msvcrt__CIfmod(Context& context, const Args& args) { return msvcrt_fmod(context, args); }
uint64_t msvcrt__ftol(Context&, const Args& args) {
    const auto [x] = args.take<double>();
    const double value = std::trunc(x);
    if (!(std::fabs(value) < 0x1p63)) return uint64_t{1} << 63;  // the x87's integer indefinite
    return static_cast<uint64_t>(static_cast<int64_t>(value));
}

}  // namespace emulator::win32

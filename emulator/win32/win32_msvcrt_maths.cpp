// The msvcrt rows of win32_functions.h that compute: the maths library and
// the x87 helpers (_CI*, _ftol) MSVC's code calls.
#include <cmath>

#include "emulator/win32/win32_context.h"

namespace emulator::win32 {

double msvcrt_sin(Context&, double x) { return std::sin(x); }
double msvcrt_cos(Context&, double x) { return std::cos(x); }
double msvcrt_tan(Context&, double x) { return std::tan(x); }
double msvcrt_asin(Context&, double x) { return std::asin(x); }
double msvcrt_acos(Context&, double x) { return std::acos(x); }
double msvcrt_atan(Context&, double x) { return std::atan(x); }
double msvcrt_atan2(Context&, double y, double x) { return std::atan2(y, x); }
double msvcrt_sqrt(Context&, double x) { return std::sqrt(x); }
double msvcrt_pow(Context&, double x, double y) { return std::pow(x, y); }
double msvcrt_exp(Context&, double x) { return std::exp(x); }
double msvcrt_log(Context&, double x) { return std::log(x); }
double msvcrt_log10(Context&, double x) { return std::log10(x); }
double msvcrt_floor(Context&, double x) { return std::floor(x); }
double msvcrt_ceil(Context&, double x) { return std::ceil(x); }
double msvcrt_fabs(Context&, double x) { return std::fabs(x); }
double msvcrt_fmod(Context&, double x, double y) { return std::fmod(x, y); }
double msvcrt_modf(Context& context, double x, Address whole_part) {
    double whole = 0;
    const double fraction = std::modf(x, &whole);
    context.memory.write(GuestPtr<double>(whole_part)) = whole;
    return fraction;
}
double msvcrt_ldexp(Context&, double x, int32_t exponent) { return std::ldexp(x, exponent); }
double msvcrt_frexp(Context& context, double x, Address exponent_cell) {
    int exponent = 0;
    const double fraction = std::frexp(x, &exponent);
    context.memory.write(GuestPtr<int32_t>(exponent_cell)) = exponent;
    return fraction;
}
double msvcrt__hypot(Context&, double x, double y) { return std::hypot(x, y); }
double msvcrt__copysign(Context&, double x, double y) { return std::copysign(x, y); }
uint32_t msvcrt__isnan(Context&, double x) { return std::isnan(x) ? 1 : 0; }
uint32_t msvcrt__finite(Context&, double x) { return std::isfinite(x) ? 1 : 0; }
double msvcrt__CIsin(Context& context, double x) { return msvcrt_sin(context, x); }
double msvcrt__CIcos(Context& context, double x) { return msvcrt_cos(context, x); }
double msvcrt__CItan(Context& context, double x) { return msvcrt_tan(context, x); }
double msvcrt__CIasin(Context& context, double x) { return msvcrt_asin(context, x); }
double msvcrt__CIacos(Context& context, double x) { return msvcrt_acos(context, x); }
double msvcrt__CIatan(Context& context, double x) { return msvcrt_atan(context, x); }
double msvcrt__CIsqrt(Context& context, double x) { return msvcrt_sqrt(context, x); }
double msvcrt__CIexp(Context& context, double x) { return msvcrt_exp(context, x); }
double msvcrt__CIlog(Context& context, double x) { return msvcrt_log(context, x); }
double msvcrt__CIlog10(Context& context, double x) { return msvcrt_log10(context, x); }
double msvcrt__CIpow(Context& context, double x, double y) { return msvcrt_pow(context, x, y); }
double msvcrt__CIatan2(Context& context, double y, double x) { return msvcrt_atan2(context, y, x); }
double msvcrt__CIfmod(Context& context, double x, double y) { return msvcrt_fmod(context, x, y); }
uint64_t msvcrt__ftol(Context&, double x) {
    const double value = std::trunc(x);
    if (!(std::fabs(value) < 0x1p63)) return uint64_t{1} << 63;  // the x87's integer indefinite
    return static_cast<uint64_t>(static_cast<int64_t>(value));
}

WIN32_SIGNATURES_CHECKED();

}  // namespace emulator::win32

#include "emulator/win32/win32_format.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <string>
#include <vector>

#include "emulator/win32/win32_guest.h"

namespace emulator::win32 {

uint32_t GuestVarargs::word() {
    const uint32_t value = memory_.read(GuestPtr<uint32_t>(next_));
    next_ += 4;
    return value;
}

uint64_t GuestVarargs::quad() {
    const uint64_t low = word();
    return low | uint64_t{word()} << 32;
}

double GuestVarargs::real() { return std::bit_cast<double>(quad()); }

namespace {

// Collects the first `limit` characters and counts them all.
class Sink {
public:
    explicit Sink(size_t limit) : limit_(limit) {}
    void put(std::string_view text) {
        text_.append(text.substr(0, room()));
        length_ += text.size();
    }
    void repeat(char c, uint64_t count) {
        text_.append(static_cast<size_t>(std::min<uint64_t>(room(), count)), c);
        length_ += count;
    }
    uint64_t length() const { return length_; }
    Formatted done() { return {std::move(text_), length_}; }

private:
    size_t room() const { return limit_ - text_.size(); }
    std::string text_;
    uint64_t length_ = 0;
    size_t limit_;
};

// A field's body: text and runs of zeros, so that a precision in the
// millions costs a count, not host memory.
class Body {
public:
    void add(std::string_view text) {
        if (!text.empty()) pieces_.push_back({std::string(text), 0});
    }
    void zeros(uint64_t count) {
        if (count > 0) pieces_.push_back({{}, count});
    }
    uint64_t size() const {
        uint64_t total = 0;
        for (const auto& piece : pieces_) total += piece.text.size() + piece.zeros;
        return total;
    }
    void write(Sink& sink) const {
        for (const auto& piece : pieces_) {
            sink.put(piece.text);
            sink.repeat('0', piece.zeros);
        }
    }

private:
    struct Piece {
        std::string text;
        uint64_t zeros;
    };
    std::vector<Piece> pieces_;
};

enum class Size : uint8_t { kDefault, kChar, kShort, kLong, kLongLong };

struct Directive {
    bool left = false;
    bool plus = false;
    bool space = false;
    bool zero = false;
    bool alternate = false;
    uint64_t width = 0;
    int64_t precision = -1;  // none
    Size size = Size::kDefault;
    bool wide = false;    // l or w on c/s, or C/S
    bool narrow = false;  // h on C/S
};

constexpr uint64_t kMaxWidth = 0x7FFFFFFF;

// Pads `body` behind `prefix` (a sign, "0x") to the field's width.
void emit(Sink& sink, const Directive& directive, std::string_view prefix, const Body& body, bool zero_pad) {
    const uint64_t size = prefix.size() + body.size();
    const uint64_t pad = directive.width > size ? directive.width - size : 0;
    const bool zeros = zero_pad && directive.zero && !directive.left;
    if (!directive.left && !zeros) sink.repeat(' ', pad);
    sink.put(prefix);
    if (zeros) sink.repeat('0', pad);
    body.write(sink);
    if (directive.left) sink.repeat(' ', pad);
}

std::string sign_of(bool negative, const Directive& directive) {
    if (negative) return "-";
    if (directive.plus) return "+";
    if (directive.space) return " ";
    return {};
}

void format_integer(Sink& sink, const Directive& directive, char conversion, GuestVarargs& arguments) {
    const bool is_signed = conversion == 'd' || conversion == 'i';
    uint64_t value = 0;
    bool negative = false;
    if (directive.size == Size::kLongLong) {
        value = arguments.quad();
        if (is_signed && static_cast<int64_t>(value) < 0) {
            negative = true;
            value = ~value + 1;
        }
    } else {
        const uint32_t word = arguments.word();
        int64_t signed_value = 0;
        switch (directive.size) {
            case Size::kChar:
                value = static_cast<uint8_t>(word);
                signed_value = static_cast<int8_t>(word);
                break;
            case Size::kShort:
                value = static_cast<uint16_t>(word);
                signed_value = static_cast<int16_t>(word);
                break;
            default:
                value = word;
                signed_value = static_cast<int32_t>(word);
                break;
        }
        if (is_signed) {
            negative = signed_value < 0;
            value = static_cast<uint64_t>(negative ? -signed_value : signed_value);
        }
    }

    const unsigned base = conversion == 'o'                                               ? 8
                          : (conversion == 'x' || conversion == 'X' || conversion == 'p') ? 16
                                                                                          : 10;
    const char* numerals = conversion == 'x' ? "0123456789abcdef" : "0123456789ABCDEF";
    std::string digits;
    for (uint64_t rest = value; rest != 0; rest /= base) digits.insert(digits.begin(), numerals[rest % base]);
    if (value == 0 && directive.precision != 0) digits = "0";

    const uint64_t precision = conversion == 'p'         ? 8
                               : directive.precision < 0 ? 0
                                                         : static_cast<uint64_t>(directive.precision);
    uint64_t leading = precision > digits.size() ? precision - digits.size() : 0;
    std::string prefix = is_signed ? sign_of(negative, directive) : std::string();
    if (directive.alternate && conversion == 'o' && leading == 0 && (digits.empty() || digits[0] != '0')) leading = 1;
    if (directive.alternate && value != 0 && (conversion == 'x' || conversion == 'X'))
        prefix = conversion == 'x' ? "0x" : "0X";

    Body body;
    body.zeros(leading);
    body.add(digits);
    emit(sink, directive, prefix, body, directive.precision < 0 && conversion != 'p');
}

// A double's decimal digits as msvcrt holds them: d0.d1d2... x 10^exponent,
// 17 significant digits, or the text msvcrt puts in place of the digits of
// infinity and NaN ("1#INF"), which it then rounds and pads like digits.
struct Decimal {
    std::string digits;
    int exponent = 0;
};

Decimal decimal_of(double magnitude, bool negative, uint64_t bits) {
    if (std::isinf(magnitude)) return {"1#INF", 0};
    if (std::isnan(magnitude)) {
        const uint64_t mantissa = bits & 0x000FFFFFFFFFFFFFu;
        const uint64_t quiet = uint64_t{1} << 51;
        if ((mantissa & quiet) == 0) return {"1#SNAN", 0};
        if (negative && mantissa == quiet) return {"1#IND", 0};  // what an invalid operation gives
        return {"1#QNAN", 0};
    }
    if (magnitude == 0) return {"0", 0};
    char text[40];
    const auto result = std::to_chars(text, text + sizeof text, magnitude, std::chars_format::scientific, 16);
    const std::string_view scientific(text, result.ptr);  // d.dddddddddddddddde+XX
    Decimal decimal;
    decimal.digits = std::string(1, scientific[0]) + std::string(scientific.substr(2, 16));
    const size_t e = scientific.find('e');
    std::from_chars(scientific.data() + e + (scientific[e + 1] == '+' ? 2 : 1), scientific.data() + scientific.size(),
                    decimal.exponent);
    return decimal;
}

bool is_zero(const Decimal& decimal) { return decimal.digits == "0"; }

// Keeps `keep` significant digits, rounding half up on the next one. The
// text of infinity and NaN rounds the same way: "1#INF" to three is "1#J".
void round_to(Decimal& decimal, int64_t keep) {
    std::string& digits = decimal.digits;
    if (is_zero(decimal) || keep >= static_cast<int64_t>(digits.size())) return;
    if (keep <= 0) {
        if (keep == 0 && digits[0] >= '5') {
            digits = "1";
            decimal.exponent += 1;
        } else {
            digits = "0";
            decimal.exponent = 0;
        }
        return;
    }
    const bool up = digits[keep] >= '5';
    digits.resize(keep);
    if (!up) return;
    for (int64_t i = keep - 1; i >= 0; --i) {
        if (digits[i] != '9') {
            ++digits[i];
            return;
        }
        digits[i] = '0';
    }
    digits.insert(digits.begin(), '1');
    digits.pop_back();
    decimal.exponent += 1;
}

// The digits from `first` on, `count` of them, zeros past the held ones.
void add_digits(Body& body, const std::string& digits, int64_t first, uint64_t count) {
    if (first < 0) {
        const uint64_t zeros = std::min<uint64_t>(count, static_cast<uint64_t>(-first));
        body.zeros(zeros);
        count -= zeros;
        first = 0;
    }
    const int64_t held = static_cast<int64_t>(digits.size());
    if (first < held) {
        const uint64_t take = std::min<uint64_t>(count, static_cast<uint64_t>(held - first));
        body.add(std::string_view(digits).substr(static_cast<size_t>(first), static_cast<size_t>(take)));
        count -= take;
    }
    body.zeros(count);
}

Body fixed(Decimal decimal, uint64_t precision, bool alternate) {
    round_to(decimal, int64_t{decimal.exponent} + 1 + static_cast<int64_t>(precision));
    Body body;
    if (is_zero(decimal) || decimal.exponent < 0) {
        body.add("0");
    } else {
        add_digits(body, decimal.digits, 0, static_cast<uint64_t>(decimal.exponent) + 1);
    }
    if (precision > 0 || alternate) body.add(".");
    if (is_zero(decimal)) {
        body.zeros(precision);
    } else {
        add_digits(body, decimal.digits, int64_t{decimal.exponent} + 1, precision);
    }
    return body;
}

Body scientific(Decimal decimal, uint64_t precision, bool alternate, bool upper) {
    round_to(decimal, static_cast<int64_t>(precision) + 1);
    Body body;
    body.add(decimal.digits.substr(0, 1));
    if (precision > 0 || alternate) body.add(".");
    add_digits(body, decimal.digits, 1, precision);
    const int exponent = is_zero(decimal) ? 0 : decimal.exponent;
    std::string tail = upper ? "E" : "e";
    tail += exponent < 0 ? '-' : '+';
    std::string number = std::to_string(exponent < 0 ? -exponent : exponent);
    tail += std::string(number.size() < 3 ? 3 - number.size() : 0, '0') + number;
    body.add(tail);
    return body;
}

void format_real(Sink& sink, const Directive& directive, char conversion, GuestVarargs& arguments) {
    const uint64_t bits = arguments.quad();
    const double value = std::bit_cast<double>(bits);
    const bool negative = std::signbit(value);
    const Decimal decimal = decimal_of(std::fabs(value), negative, bits);
    const bool upper = conversion == 'E' || conversion == 'G';
    const uint64_t precision = directive.precision < 0 ? 6 : static_cast<uint64_t>(directive.precision);

    Body body;
    if (conversion == 'f' || conversion == 'F') {
        body = fixed(decimal, precision, directive.alternate);
    } else if (conversion == 'e' || conversion == 'E') {
        body = scientific(decimal, precision, directive.alternate, upper);
    } else {
        // %g: as many significant digits as the precision, in the style the
        // exponent calls for, trailing zeros dropped unless '#'.
        const uint64_t significant = precision == 0 ? 1 : precision;
        Decimal rounded = decimal;
        round_to(rounded, static_cast<int64_t>(std::min<uint64_t>(significant, 64)));
        const int64_t exponent = is_zero(rounded) ? 0 : rounded.exponent;
        uint64_t shown = significant;  // significant digits shown
        if (!directive.alternate) {
            while (rounded.digits.size() > 1 && rounded.digits.back() == '0') rounded.digits.pop_back();
            shown = std::min<uint64_t>(shown, rounded.digits.size());
        }
        if (exponent < -4 || exponent >= static_cast<int64_t>(significant)) {
            body = scientific(rounded, shown - 1, directive.alternate, upper);
        } else {
            const int64_t decimals = static_cast<int64_t>(shown) - 1 - exponent;
            body = fixed(rounded, decimals > 0 ? static_cast<uint64_t>(decimals) : 0, directive.alternate);
        }
    }
    emit(sink, directive, sign_of(negative, directive), body, true);
}

char narrow_char(uint32_t wide) { return wide < 0x100 ? static_cast<char>(wide) : '?'; }

void format_string(Sink& sink, const Directive& directive, bool wide, GuestMemory& memory, GuestVarargs& arguments) {
    const uint32_t pointer = arguments.word();
    const uint32_t max = directive.precision < 0
                             ? UINT32_MAX
                             : static_cast<uint32_t>(std::min<int64_t>(directive.precision, UINT32_MAX));
    std::string text;
    if (pointer == 0) {
        text = std::string("(null)").substr(0, max);
    } else if (wide) {
        for (char16_t c : wide_at(memory, pointer, max)) text += narrow_char(c);
    } else {
        text = std::string(string_at(memory, pointer, max));
    }
    Body body;
    body.add(text);
    emit(sink, directive, {}, body, true);
}

uint64_t read_count(std::string_view format, size_t& at) {
    uint64_t count = 0;
    while (at < format.size() && format[at] >= '0' && format[at] <= '9') {
        count = std::min<uint64_t>(count * 10 + static_cast<uint64_t>(format[at] - '0'), kMaxWidth);
        ++at;
    }
    return count;
}

// The flags, width and precision of a directive, from just after its '%'.
Directive read_directive(std::string_view format, size_t& at, GuestVarargs& arguments) {
    Directive directive;
    for (; at < format.size(); ++at) {
        const char flag = format[at];
        if (flag == '-') {
            directive.left = true;
        } else if (flag == '+') {
            directive.plus = true;
        } else if (flag == ' ') {
            directive.space = true;
        } else if (flag == '0') {
            directive.zero = true;
        } else if (flag == '#') {
            directive.alternate = true;
        } else {
            break;
        }
    }
    if (at < format.size() && format[at] == '*') {
        const auto width = static_cast<int32_t>(arguments.word());
        if (width < 0) directive.left = true;
        directive.width = static_cast<uint64_t>(std::abs(static_cast<int64_t>(width)));
        ++at;
    } else {
        directive.width = read_count(format, at);
    }
    if (at < format.size() && format[at] == '.') {
        ++at;
        if (at < format.size() && format[at] == '*') {
            const auto precision = static_cast<int32_t>(arguments.word());
            directive.precision = precision < 0 ? -1 : precision;
            ++at;
        } else {
            directive.precision = static_cast<int64_t>(read_count(format, at));
        }
    }
    return directive;
}

// The size prefix (hh, h, l, ll, I64, ...), into `directive`.
void read_size(std::string_view format, size_t& at, Directive& directive) {
    const auto next_is = [&](std::string_view text) { return format.substr(at, text.size()) == text; };
    if (next_is("hh")) {
        directive.size = Size::kChar;
        at += 2;
    } else if (next_is("h")) {
        directive.size = Size::kShort;
        directive.narrow = true;
        at += 1;
    } else if (next_is("ll") || next_is("I64")) {
        directive.size = Size::kLongLong;
        at += next_is("ll") ? 2 : 3;
    } else if (next_is("I32")) {
        directive.size = Size::kLong;
        at += 3;
    } else if (next_is("l") || next_is("w")) {
        directive.size = Size::kLong;
        directive.wide = true;
        at += 1;
    } else if (next_is("L") || next_is("j")) {
        directive.size = Size::kLongLong;
        at += 1;
    } else if (next_is("I") || next_is("z") || next_is("t")) {
        directive.size = Size::kLong;
        at += 1;
    }
}

void convert(Sink& sink, Directive& directive, char conversion, GuestMemory& memory, GuestVarargs& arguments) {
    switch (conversion) {
        case 'd':
        case 'i':
        case 'u':
        case 'o':
        case 'x':
        case 'X': format_integer(sink, directive, conversion, arguments); break;
        case 'p':
            directive.size = Size::kLong;
            format_integer(sink, directive, 'p', arguments);
            break;
        case 'e':
        case 'E':
        case 'f':
        case 'F':
        case 'g':
        case 'G': format_real(sink, directive, conversion, arguments); break;
        case 'c':
        case 'C': {
            const bool wide = conversion == 'C' ? !directive.narrow : directive.wide;
            const uint32_t c = arguments.word();
            Body body;
            body.add(std::string(1, wide ? narrow_char(c & 0xFFFF) : static_cast<char>(c)));
            emit(sink, directive, {}, body, true);
            break;
        }
        case 's':
        case 'S':
            format_string(sink, directive, conversion == 'S' ? !directive.narrow : directive.wide, memory, arguments);
            break;
        case 'n': {
            const uint32_t pointer = arguments.word();
            const auto count = static_cast<uint32_t>(sink.length());
            if (directive.size == Size::kShort) {
                memory.write(GuestPtr<uint16_t>(pointer)) = static_cast<uint16_t>(count);
            } else {
                memory.write(GuestPtr<uint32_t>(pointer)) = count;
            }
            break;
        }
        default:
            // msvcrt prints a conversion it does not know as itself ("%%" among them).
            sink.put(std::string_view(&conversion, 1));
            break;
    }
}

}  // namespace

// As msvcrt's own parser: flags, width, precision, size prefix and
// conversion read in order, one directive at a time.
Formatted format(GuestMemory& memory, std::string_view format, GuestVarargs& arguments, size_t limit) {
    Sink sink(limit);
    size_t at = 0;
    while (at < format.size()) {
        const size_t percent = format.find('%', at);
        sink.put(format.substr(at, percent - at));
        if (percent == std::string_view::npos) break;
        at = percent + 1;
        Directive directive = read_directive(format, at, arguments);
        read_size(format, at, directive);
        if (at >= format.size()) break;
        const char conversion = format[at++];
        convert(sink, directive, conversion, memory, arguments);
    }
    return sink.done();
}

}  // namespace emulator::win32

#include "tools/new_command.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <numbers>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "art/bmp.h"
#include "art/palette.h"
#include "tools/data_files.h"

namespace new_command {
namespace {

namespace fs = std::filesystem;
using gaugebench::CommandError;
using gaugebench::ExitStatus;

// --- The gauge's pictures ---------------------------------------------------------------------------------
//
// One layout draws the bitmaps and fills the numbers the template's records
// take (placeholders such as @PIVOT@), so the needle's pivot, the scale's
// table and the click box land on what the pictures show.

constexpr int kDialSize = 200;
constexpr double kCentre = kDialSize / 2.0;
constexpr double kBezelOuter = 97.0;
constexpr double kFaceRadius = 90.0;
// The scale: 0 to kFullScale knots in kMarkStep steps, 270 degrees
// clockwise from 7:30 (angles are clockwise from 3 o'clock, as the host turns
// needles); every other mark is a long one.
constexpr int kFullScale = 400;
constexpr int kMarkStep = 50;
constexpr double kZeroAngle = 135.0;
constexpr double kSweep = 270.0;
constexpr double kMarkOuter = 86.0;
constexpr double kLongMarkInner = 68.0;
constexpr double kShortMarkInner = 76.0;
constexpr double kTablePointRadius = 80.0;  // where the table's points lie, along the marks
// The test button, below the scale's gap: x, y, width, height.
constexpr std::array<int, 4> kTestBox = {76, 150, 48, 22};
// The needle, drawn pointing at 3 o'clock, its pivot kNeedlePivot pixels in.
constexpr int kNeedleWidth = 92;
constexpr int kNeedleHeight = 11;
constexpr std::array<int, 2> kNeedlePivot = {12, 5};
constexpr double kHubRadius = 5.0;

double mark_angle(int value) { return (kZeroAngle + kSweep * value / kFullScale) * std::numbers::pi / 180.0; }

// A picture of `width` x `height` pixels, each the mean of 4 x 4 samples
// of `paint`, so edges are smooth. Pure black is transparent to the host:
// only pixels wholly outside the drawing stay black.
template <typename Paint>
art::RgbImage draw(int width, int height, Paint paint) {
    constexpr int kSamples = 4;
    art::RgbImage image{static_cast<uint32_t>(width), static_cast<uint32_t>(height), {}};
    image.pixels.reserve(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            int r = 0, g = 0, b = 0;
            for (int sy = 0; sy < kSamples; ++sy) {
                for (int sx = 0; sx < kSamples; ++sx) {
                    const art::Rgb c = paint(x + (sx + 0.5) / kSamples, y + (sy + 0.5) / kSamples);
                    r += c.r, g += c.g, b += c.b;
                }
            }
            constexpr int n = kSamples * kSamples;
            image.pixels.push_back({static_cast<uint8_t>((r + n / 2) / n), static_cast<uint8_t>((g + n / 2) / n),
                                    static_cast<uint8_t>((b + n / 2) / n)});
        }
    }
    return image;
}

art::Rgb dial_colour(double x, double y) {
    namespace colour = art::colour;
    const double dx = x - kCentre, dy = y - kCentre;
    const double distance = std::hypot(dx, dy);
    if (distance > kBezelOuter) return colour::kTransparent;
    if (distance > kFaceRadius) return colour::kBrass;
    for (int value = 0; value <= kFullScale; value += kMarkStep) {
        const double angle = mark_angle(value);
        const double along = dx * std::cos(angle) + dy * std::sin(angle);
        const double across = std::abs(dx * std::sin(angle) - dy * std::cos(angle));
        const bool long_mark = value % (2 * kMarkStep) == 0;
        if (along >= (long_mark ? kLongMarkInner : kShortMarkInner) && along <= kMarkOuter &&
            across <= (long_mark ? 1.6 : 1.0))
            return colour::kCream;
    }
    const auto [bx, by, bw, bh] = kTestBox;
    if (x >= bx && x < bx + bw && y >= by && y < by + bh) {
        const bool border = x < bx + 2 || x >= bx + bw - 2 || y < by + 2 || y >= by + bh - 2;
        return border ? colour::kOrange : colour::kRedDim;
    }
    return colour::kFace;
}

// A tapering pointer on a round hub at the pivot.
art::Rgb needle_colour(double x, double y) {
    const double px = x - kNeedlePivot[0], py = y - kNeedlePivot[1] - 0.5;
    if (std::hypot(px, py) <= kHubRadius) return art::colour::kBrass;
    const double tip = kNeedleWidth - kNeedlePivot[0];
    constexpr double kTaper = 16.0;
    double half_width = px < 0 ? 2.5 : 1.8;
    if (px > tip - kTaper) half_width *= (tip - px) / kTaper;
    return std::abs(py) <= half_width ? art::colour::kCream : art::colour::kTransparent;
}

std::string pair(int a, int b) { return std::to_string(a) + ", " + std::to_string(b); }

// The numbers the template's placeholders stand for, the module's name among them.
std::map<std::string, std::string> placeholders(const std::string& name) {
    std::string table;
    int marks = 0;
    for (int value = 0; value <= kFullScale; value += kMarkStep, ++marks) {
        const double angle = mark_angle(value);
        const long x = std::lround(kCentre + kTablePointRadius * std::cos(angle));
        const long y = std::lround(kCentre + kTablePointRadius * std::sin(angle));
        table += (marks == 0 ? "" : "\n") + std::string(16, ' ') + "point(" + std::to_string(x) + ", " +
                 std::to_string(y) + ", " + std::to_string(value) + "),";
    }
    const auto [bx, by, bw, bh] = kTestBox;
    const int centre = static_cast<int>(kCentre);
    return {
        {"NAME", name},
        {"DIAL_SIZE", std::to_string(kDialSize)},
        {"PIVOT", pair(centre, centre)},
        {"NEEDLE_PIVOT", pair(kNeedlePivot[0], kNeedlePivot[1])},
        {"FULL_SCALE", std::to_string(kFullScale)},
        {"SCALE_MARKS", std::to_string(marks)},
        {"SCALE_TABLE", table},
        {"TEST_BOX", pair(bx, by) + ", " + pair(bw, bh)},
        {"TEST_POINT", std::to_string(bx + bw / 2) + " " + std::to_string(by + bh / 2)},
    };
}

// --- Writing the project ------------------------------------------------------------------------------------

// `text` with every @WORD@ replaced; a placeholder without a value is the
// template's fault, named by file and line.
std::string fill(const std::string& text, const std::map<std::string, std::string>& values, const fs::path& file) {
    std::string out;
    size_t at = 0;
    while (true) {
        const size_t open = text.find('@', at);
        const size_t close = open == std::string::npos ? open : text.find('@', open + 1);
        if (close == std::string::npos) break;
        const std::string word = text.substr(open + 1, close - open - 1);
        const bool placeholder = !word.empty() && std::all_of(word.begin(), word.end(), [](unsigned char c) {
            return std::isupper(c) || c == '_';
        });
        if (!placeholder) {
            out += text.substr(at, close - at);
            at = close;
            continue;
        }
        const auto value = values.find(word);
        if (value == values.end()) {
            const long line = 1 + std::count(text.begin(), text.begin() + static_cast<long>(open), '\n');
            throw CommandError(ExitStatus::kBadInput,
                               file.string() + ":" + std::to_string(line) + ": unknown placeholder @" + word + "@");
        }
        out += text.substr(at, open - at) + value->second;
        at = close + 1;
    }
    return out + text.substr(at);
}

std::string read_text(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in) throw CommandError(ExitStatus::kBadInput, file.string() + ": cannot be read");
    return text.str();
}

void write_bytes(const fs::path& file, const char* data, size_t size) {
    std::ofstream out(file, std::ios::binary);
    out.write(data, static_cast<std::streamsize>(size));
    out.close();
    if (!out) throw CommandError(ExitStatus::kBadInput, file.string() + ": cannot be written");
}

void write_bitmap(const fs::path& file, const art::RgbImage& image) {
    const std::vector<uint8_t> bytes = art::encode_bmp24(image);
    write_bytes(file, reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// The project's files in `folder`: the template's, filled in, the pictures,
// and the kit (everything beside the template) under kit/.
void write_project(const fs::path& kit, const fs::path& folder, const std::string& name) {
    const std::map<std::string, std::string> values = placeholders(name);
    for (const fs::directory_entry& entry : fs::directory_iterator(kit / "template")) {
        const fs::path source = entry.path();
        if (source.extension() != ".in") continue;
        const std::string text = fill(read_text(source), values, source);
        write_bytes(folder / source.stem(), text.data(), text.size());
    }
    write_bitmap(folder / "dial.bmp", draw(kDialSize, kDialSize, dial_colour));
    write_bitmap(folder / "needle.bmp", draw(kNeedleWidth, kNeedleHeight, needle_colour));
    fs::create_directory(folder / "kit");
    for (const fs::directory_entry& entry : fs::directory_iterator(kit)) {
        if (entry.path().filename() == "template") continue;
        // Links (the build tree's kit is links into the sources) are copied as what they name.
        fs::copy(entry.path(), folder / "kit" / entry.path().filename(), fs::copy_options::recursive);
    }
}

// Ctrl-C and SIGTERM wait while the project is written, a matter of
// milliseconds: the folder appears whole under its name, or not at all.
class SignalsHeld {
public:
    SignalsHeld() {
        sigset_t held;
        sigemptyset(&held);
        sigaddset(&held, SIGINT);
        sigaddset(&held, SIGTERM);
        sigprocmask(SIG_BLOCK, &held, &before_);
    }
    ~SignalsHeld() { sigprocmask(SIG_SETMASK, &before_, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
    sigset_t before_;
};

// Windows keeps these names for devices, with any extension.
constexpr std::array kDeviceNames = {"CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4",
                                     "COM5", "COM6", "COM7", "COM8", "COM9", "LPT1", "LPT2", "LPT3",
                                     "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9"};
constexpr size_t kLongestName = 64;

// Why `name` cannot name a module: its file NAME.gau, its CMake target and
// project, a panel's NAME!Gauge. Empty when it can.
std::string name_fault(const std::string& name) {
    const std::string quoted = "'" + name + "' is no module name: ";
    const bool letters = !name.empty() && std::isalpha(static_cast<unsigned char>(name[0])) &&
                         std::all_of(name.begin(), name.end(), [](unsigned char c) {
                             return c < 0x80 && (std::isalnum(c) || c == '_' || c == '-');
                         });
    if (!letters || name.size() > kLongestName) {
        return quoted + "it takes a letter, then up to " + std::to_string(kLongestName - 1) +
               " letters, digits, '_' or '-'";
    }
    std::string upper = name;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
    if (std::find(kDeviceNames.begin(), kDeviceNames.end(), upper) != kDeviceNames.end())
        return quoted + "Windows keeps it for a device";
    return {};
}

struct NewOptions {
    std::string name;
    std::string dir = ".";
};

ExitStatus make_project(const NewOptions& options) {
    if (const std::string fault = name_fault(options.name); !fault.empty())
        throw CommandError(ExitStatus::kUsage, fault);
    std::error_code error;
    if (!fs::is_directory(options.dir, error))
        throw CommandError(ExitStatus::kUsage, "--dir " + options.dir + ": there is no such folder");
    const fs::path target = fs::path(options.dir) / options.name;
    const std::string shown = target.lexically_normal().string();
    const fs::file_status status = fs::symlink_status(target, error);
    if (fs::is_symlink(status)) throw CommandError(ExitStatus::kUsage, shown + ": is a symbolic link: give a new name");
    if (fs::exists(status) && !fs::is_directory(status))
        throw CommandError(ExitStatus::kUsage, shown + ": exists and is no folder: give a new name");
    if (fs::exists(status) && !fs::is_empty(target, error))
        throw CommandError(ExitStatus::kUsage, shown + ": exists and is not empty: give a new name or another --dir");

    const fs::path kit = gaugebench::data_file(gaugebench::DataFile::kKit);
    if (!fs::is_directory(kit / "template", error))
        throw CommandError(ExitStatus::kBadInput, kit.string() + ": holds no module kit with its template/");

    {
        const SignalsHeld held;
        std::string pattern = (fs::path(options.dir) / ("." + options.name + ".XXXXXX")).string();
        if (mkdtemp(pattern.data()) == nullptr) {
            throw CommandError(ExitStatus::kBadInput,
                               options.dir + ": a folder cannot be made there (" + std::strerror(errno) + ")");
        }
        const fs::path building = pattern;
        try {
            write_project(kit, building, options.name);
            // mkdtemp's folder is private; the project is made as mkdir would make it.
            const mode_t mask = umask(0);
            umask(mask);
            fs::permissions(building, static_cast<fs::perms>(0777 & ~mask));
            // Over an empty folder of that name, too.
            fs::rename(building, target);
        } catch (...) {
            fs::remove_all(building, error);
            throw;
        }
    }
    const char* at = shown.c_str();
    std::printf("%s/: a module project, one gauge (Dial) with its bitmaps, panel.cfg, scenario.txt and the kit\n", at);
    // The next steps are a note: --quiet leaves them out.
    if (!gaugebench::console().quiet()) {
        std::printf(
            "build it:  cmake -S %s -B %s/build && cmake --build %s/build\n"
            "then:      gaugebench render %s/panel.cfg --modules %s/build -o %s.png  (%s/README.md says more)\n",
            at, at, at, at, at, options.name.c_str(), at);
    }
    return ExitStatus::kSuccess;
}

}  // namespace

void add(CLI::App& app, gaugebench::Commands& commands) {
    auto options = std::make_shared<NewOptions>();
    CLI::App* command = app.add_subcommand(
        "new",
        "Make a module project NAME/ that builds with CMake and MinGW-w64: one gauge with a needle and a click box, "
        "its bitmaps, a panel, a scenario, a README and the module kit; a folder that exists and is not empty is "
        "refused");
    command->add_option("name", options->name, "the module's name: NAME.gau, the folder NAME/")
        ->required()
        ->type_name("<NAME>");
    command->add_option("--dir", options->dir, "the folder to make NAME/ in (default: the current one)")
        ->type_name("<dir>");
    commands.push_back({command, [options] { return make_project(*options); }});
}

}  // namespace new_command

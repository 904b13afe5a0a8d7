#include "emulator/win32/win32_environment.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <tuple>
#include <type_traits>

#include "emulator/pe/pe_format.h"
#include "emulator/win32/win32_context.h"
#include "emulator/win32/win32_guest.h"
#include "frame/argument_words.h"
#include "platform/text_input.h"

namespace emulator {
namespace win32 {

std::optional<std::string> provided_dll(std::string_view dll) {
    std::string name(dll);
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    if (name.ends_with(".dll")) name.resize(name.size() - 4);
    if (name == "kernel32") return "KERNEL32";
    if (name == "user32") return "USER32";
    // MSVC's versioned C run-times differ from msvcrt in nothing a gauge
    // module relies on.
    static constexpr std::string_view kRuntimes[] = {"msvcrt",  "msvcr70",  "msvcr71",  "msvcr80",
                                                     "msvcr90", "msvcr100", "msvcr110", "msvcr120"};
    if (std::find(std::begin(kRuntimes), std::end(kRuntimes), name) != std::end(kRuntimes)) return "msvcrt";
    return std::nullopt;
}

std::string function_name(std::string_view provided, std::string_view name) {
    return std::string(provided) + ".dll!" + std::string(name);
}

// --- Context ---------------------------------------------------------------

namespace {

constexpr uint32_t kHeapSize = 16u << 20;

std::string base_name(std::string_view path) {
    const size_t slash = path.find_last_of("/\\");
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

}  // namespace

Context::Context(EmulatedMachine& machine) : machine(machine), memory(machine.memory()) {
    result_cell = machine.allocate(8);
}

uint32_t Context::errno_cell() { return data("errno"); }

void Context::set_errno(int32_t value) { memory.write(GuestPtr<int32_t>(errno_cell())) = value; }

void Context::stop(const std::string& why) const { throw GuestFault(GuestFault::Kind::kOther, 0, 0, why); }

uint32_t Context::heap_allocate(uint32_t size, uint32_t owner, bool zero) {
    if (!within(Budget::kHeapBlocks)) return 0;
    if (!heap) {
        // The module took the memory or the address space: its allocation fails, as on Windows.
        if (machine.memory_room() < kHeapSize) return 0;
        const auto reserved = machine.try_reserve(kHeapSize);
        if (!reserved) return 0;
        const uint32_t base = *reserved;
        machine.map(base, kHeapSize, EmulatedMachine::kRead | EmulatedMachine::kWrite, "heap");
        heap.emplace(base, kHeapSize);
    }
    const auto address = heap->allocate(size, owner);
    if (!address) return 0;
    ++allocations;
    if (zero && size > 0) std::memset(writable(memory, *address, size), 0, size);
    return *address;
}

void Context::heap_free(uint32_t address) {
    if (!heap) {
        throw GuestFault(GuestFault::Kind::kOther, address, 0,
                         "heap block " + hex(address) + " freed before anything was allocated");
    }
    heap->release(address);
}

uint32_t Context::heap_reallocate(uint32_t address, uint32_t size, uint32_t owner, bool in_place_only, bool zero) {
    const auto old_size = heap_size(address);
    if (!old_size) heap_free(address);  // throws, naming what is wrong with the pointer
    if (heap->resize(address, size)) {
        ++allocations;
        if (zero && size > *old_size)
            std::memset(writable(memory, address + *old_size, size - *old_size), 0, size - *old_size);
        return address;
    }
    if (in_place_only) return 0;
    const auto moved = heap->allocate(size, owner);
    if (!moved) return 0;
    ++allocations;
    const uint32_t kept = std::min(size, *old_size);
    if (kept > 0) std::memcpy(writable(memory, *moved, kept), readable(memory, address, kept), kept);
    if (zero && size > kept) std::memset(writable(memory, *moved + kept, size - kept), 0, size - kept);
    heap->release(address);
    return *moved;
}

std::optional<uint32_t> Context::heap_size(uint32_t address) {
    if (!heap) return std::nullopt;
    return heap->size_of(address);
}

void Context::print(std::string_view text) {
    console.append(text);
    if (console.size() > kConsoleKept) console.erase(0, console.size() - kConsoleKept / 2);
}

void Context::debug(std::string text) {
    if (text.size() > kConsoleKept / 2) text.resize(kConsoleKept / 2);
    debug_bytes += text.size();
    debug_output.push_back(std::move(text));
    if (debug_output.size() <= kDebugLinesKept && debug_bytes <= kConsoleKept) return;
    // Dropped by halves, so that a module printing every frame costs no
    // more than a copy now and then.
    size_t dropped = 0;
    size_t bytes = 0;
    while (dropped < debug_output.size() - 1 &&
           (dropped < debug_output.size() / 2 || debug_bytes - bytes > kConsoleKept / 2)) {
        bytes += debug_output[dropped++].size();
    }
    debug_output.erase(debug_output.begin(), debug_output.begin() + static_cast<std::ptrdiff_t>(dropped));
    debug_bytes -= bytes;
}

uint32_t Context::add_object(std::shared_ptr<Object> object, bool may_refuse) {
    const bool heap_object = object->kind == ObjectKind::kHeap;
    if (may_refuse && (!within(Budget::kHandles) || (heap_object && !within(Budget::kHeaps)))) return 0;
    // Handles are reused only after the 32-bit range runs out, never 0 or a pseudo-handle.
    while (next_handle == 0 || next_handle >= kCurrentThread || objects.count(next_handle) != 0) {
        next_handle = next_handle >= kCurrentThread ? 0x44 : next_handle + 4;
    }
    const uint32_t handle = next_handle;
    next_handle += 4;
    objects[handle] = std::move(object);
    if (heap_object) ++heaps;
    return handle;
}

bool Context::close_handle(uint32_t handle) {
    const auto it = objects.find(handle);
    if (it == objects.end()) return false;
    if (it->second->kind == ObjectKind::kHeap) --heaps;
    objects.erase(it);
    return true;
}

uint64_t Context::held(Budget budget) const {
    switch (budget) {
        case Budget::kHandles: return objects.size();
        case Budget::kHeaps: return heaps;
        case Budget::kHeapBlocks: return heap ? heap->blocks() : 0;
        case Budget::kVirtualMemory: {
            uint64_t bytes = 0;
            for (const auto& [base, block] : virtual_blocks) bytes += block.size;
            return bytes;
        }
        case Budget::kGuestMemory: return machine.mapped_bytes();
        case Budget::kRegistrations: return exit_routines.size() + vectored_handlers.size() + dllonexit_entries;
    }
    return 0;
}

bool Context::within(Budget budget, uint64_t more) {
    const BudgetInfo& info = budget_info(budget);
    if (held(budget) + more <= info.limit) return true;
    ++refused[static_cast<size_t>(budget)];
    if (info.error != 0) last_error = info.error;
    return false;
}

Context::Object* Context::object(uint32_t handle) {
    const auto it = objects.find(handle);
    return it == objects.end() ? nullptr : it->second.get();
}

uint32_t Context::data(std::string_view name) {
    if (const auto it = data_imports.find(name); it != data_imports.end()) return it->second;
    uint32_t size = 4;
#define WIN32_DATA_SIZE(dll, data_name, bytes, note) \
    if (name == #data_name) size = bytes;
    WIN32_DATA(WIN32_DATA_SIZE)
#undef WIN32_DATA_SIZE
    const uint32_t address = machine.allocate(size);
    data_imports.emplace(std::string(name), address);
    const auto set = [this](uint32_t at, uint32_t value) { memory.write(GuestPtr<uint32_t>(at)) = value; };
    if (name == "_iob") {
        for (uint32_t stream = 0; stream < 3; ++stream) {
            memory.write(GuestPtr<pe::CrtFile>(address).at(stream)) =
                pe::CrtFile{.flags = stream == 0 ? 0x1u : 0x2u, .descriptor = stream};  // _IOREAD, _IOWRT
        }
    } else if (name == "__initenv" || name == "_environ") {
        set(address, machine.allocate(4));  // an environment of no strings
    } else if (name == "_acmdln") {
        set(address, text(kCommandLine));
    } else if (name == "__argc" || name == "__mb_cur_max") {
        set(address, 1);
    } else if (name == "__argv") {
        const uint32_t argv = machine.allocate(8);
        set(argv, text(kCommandLine));
        set(address, argv);
    }
    return address;
}

uint32_t Context::text(std::string_view value) {
    if (const auto it = texts.find(value); it != texts.end()) return it->second;
    const uint32_t address = machine.allocate(static_cast<uint32_t>(value.size()) + 1);
    memory.copy_in(address, value.data(), static_cast<uint32_t>(value.size()));
    texts.emplace(std::string(value), address);
    return address;
}

uint32_t Context::dll_handle(const std::string& provided) {
    if (const auto it = dll_handles.find(provided); it != dll_handles.end()) return it->second;
    const uint32_t handle = machine.allocate(16);
    dll_handles[provided] = handle;
    return handle;
}

Context::Module* Context::module_at(uint32_t address) {
    for (Module& module : modules) {
        if (address - module.base < module.size && mapped(module)) return &module;
    }
    return nullptr;
}

Context::Module* Context::module_based(uint32_t base) {
    for (Module& module : modules) {
        if ((base == 0 || module.base == base) && mapped(module)) return &module;
    }
    return nullptr;
}

Context::Module* Context::module_named(std::string_view name) {
    const std::string wanted = platform::lowercase(base_name(name));
    for (Module& module : modules) {
        if (!mapped(module)) continue;
        const std::string have = platform::lowercase(module.name);
        if (have == wanted) return &module;
        // LoadLibrary("name") means name.dll; a module mapped as name.gau
        // is what a host that asks by stem means.
        if (wanted.find('.') == std::string::npos && have.substr(0, have.rfind('.')) == wanted) return &module;
    }
    return nullptr;
}

// --- Binding ---------------------------------------------------------------

// Named, not anonymous: Win32Environment::Impl derives from its Binder.
namespace binding {

// A few x86 instructions, placed at `origin`.
class Code {
public:
    explicit Code(uint32_t origin) : origin_(origin) {}
    Code& bytes(std::initializer_list<uint8_t> values) {
        bytes_.insert(bytes_.end(), values);
        return *this;
    }
    Code& append(const std::vector<uint8_t>& values) {
        bytes_.insert(bytes_.end(), values.begin(), values.end());
        return *this;
    }
    Code& word(uint32_t value) {
        for (int shift = 0; shift < 32; shift += 8) bytes_.push_back(static_cast<uint8_t>(value >> shift));
        return *this;
    }
    Code& call(uint32_t target) {  // call rel32
        bytes({0xE8});
        return word(target - (origin_ + static_cast<uint32_t>(bytes_.size()) + 4));
    }
    Code& ret(uint32_t pop) {
        if (pop == 0) return bytes({0xC3});
        return bytes({0xC2, static_cast<uint8_t>(pop), static_cast<uint8_t>(pop >> 8)});
    }
    uint32_t origin() const { return origin_; }
    const std::vector<uint8_t>& code() const { return bytes_; }

private:
    uint32_t origin_;
    std::vector<uint8_t> bytes_;
};

class Binder;

struct Entry {
    std::string_view dll;
    std::string_view name;
    uint32_t words;               // on the stack, derived from the parameters
    std::string_view parameters;  // the row's, as written: "(uint32_t milliseconds)"
    Convention convention;
    Shape shape;
    uint32_t (*bind)(Binder& binder, const Entry& entry);
};

// The row's parameter types.
template <typename Row>
struct RowParameters;
template <typename... P>
struct RowParameters<void(P...)> {
    static constexpr uint32_t kWords = static_cast<uint32_t>(argument_words::kWords<P...>);
};

// "name=value, ...": the values as the row types them, addresses in hex,
// named by the row's text (each parameter's last word).
template <typename... P>
std::string describe(std::string_view parameters, const P&... values) {
    std::vector<std::string_view> names;
    parameters = parameters.substr(1, parameters.size() - 2);
    while (!parameters.empty()) {
        const size_t comma = std::min(parameters.find(','), parameters.size());
        std::string_view one = parameters.substr(0, comma);
        while (!one.empty() && one.back() == ' ') one.remove_suffix(1);
        const size_t space = one.find_last_of(" *&");
        names.push_back(space == std::string_view::npos ? one : one.substr(space + 1));
        parameters.remove_prefix(std::min(comma + 1, parameters.size()));
    }
    std::string text;
    size_t index = 0;
    [[maybe_unused]] const auto add = [&](const auto& value) {
        using T = std::decay_t<decltype(value)>;
        if (index != 0) text += ", ";
        text += index < names.size() ? names[index] : std::string_view("?");
        text += '=';
        if constexpr (std::is_same_v<T, Address>) {
            text += hex(value.value);
        } else if constexpr (std::is_same_v<T, double>) {
            char buffer[32];
            std::snprintf(buffer, sizeof buffer, "%.17g", value);
            text += buffer;
        } else {
            text += std::to_string(value);
        }
        ++index;
    };
    (add(values), ...);
    return text;
}

// One call of a row's routine: its words as the row's typed parameters
// (unpacked as the panel services' are), told to the call observer first.
template <Shape S, auto Handler, typename... P>
auto invoke(Context& context, const std::string& name, std::string_view parameters, void (*)(P...),
            std::span<const uint32_t> words, uint32_t address) {
    return std::apply(
        [&](P... values) {
            if (context.observer) context.observer(name, [&] { return describe(parameters, values...); });
            if constexpr (S == Shape::kVarargs) {
                return Handler(context, values..., Varargs{address + 4 * RowParameters<void(P...)>::kWords});
            } else {
                return Handler(context, values...);
            }
        },
        argument_words::unpack<P...>(words));
}

class Binder {
public:
    explicit Binder(EmulatedMachine& machine) : machine_(machine), context_(machine) {
        context_.resolve = [this](std::string_view dll, std::string_view name) { return resolve(dll, name); };
    }

    win32::Context& context() { return context_; }

    std::optional<uint32_t> resolve(std::string_view dll, std::string_view name);
    uint32_t trap(std::string_view dll, std::string_view name, std::string_view why);

    template <Shape S, typename Row, auto Handler>
    uint32_t bind(const Entry& entry) {
        [[maybe_unused]] constexpr Row* kRow = nullptr;
        const std::string name = function_name(entry.dll, entry.name);
        Context& context = context_;
        if constexpr (S == Shape::kEax) {
            return machine_.host_routine(name, entry.words, entry.convention,
                                         [&context, name, entry](std::span<const uint32_t> words) -> uint32_t {
                                             ++context.calls[name];
                                             return invoke<S, Handler>(context, name, entry.parameters, kRow, words, 0);
                                         });
        } else if constexpr (S == Shape::kCode) {
            const uint32_t count = machine_.host_routine(name, 0, Convention::kStdcall,
                                                         [&context, name](std::span<const uint32_t>) -> uint32_t {
                                                             ++context.calls[name];
                                                             if (context.observer)
                                                                 context.observer(name, [] { return std::string(); });
                                                             return 0;
                                                         });
            const std::vector<uint8_t> body = Handler(context);
            Code code(origin(static_cast<uint32_t>(body.size()) + 5));
            code.call(count).append(body);
            return commit(code);
        } else {
            const uint32_t words = entry.words;
            // Where the module's return address lies: below the arguments,
            // or above the doubles the code stored from the x87 stack.
            constexpr bool kX87 = S == Shape::kSt0ToSt0 || S == Shape::kSt1St0ToSt0 || S == Shape::kSt0ToEdxEax;
            const auto caller_at = [words](uint32_t arguments) { return kX87 ? arguments + 4 * words : arguments - 4; };
            const uint32_t inner = machine_.host_routine(
                name, 1, Convention::kStdcall,
                [&context, name, entry, words, caller_at](std::span<const uint32_t> where) -> uint32_t {
                    ++context.calls[name];
                    try {
                        const auto stack = context.memory.read_array(GuestPtr<uint32_t>(where[0]), words);
                        const std::vector<uint32_t> copy(stack.begin(), stack.end());
                        const auto result = invoke<S, Handler>(context, name, entry.parameters, kRow, copy, where[0]);
                        using Result = std::decay_t<decltype(result)>;
                        if constexpr (std::is_same_v<Result, double>) {
                            context.memory.write(GuestPtr<double>(context.result_cell)) = result;
                            return 0;
                        } else if constexpr (std::is_same_v<Result, uint64_t>) {
                            context.memory.write(GuestPtr<uint32_t>(context.result_cell + 4)) =
                                static_cast<uint32_t>(result >> 32);
                            return static_cast<uint32_t>(result);
                        } else {
                            return result;
                        }
                    } catch (const GuestFault& fault) {
                        if (fault.pc() != 0) throw;
                        // Named at the module's call, not at the code in between.
                        const uint32_t caller = context.memory.read(GuestPtr<uint32_t>(caller_at(where[0])));
                        throw GuestFault(
                            fault.kind(), fault.address(), caller,
                            std::string(fault.what()) + " (" + name + ", called from " + hex(caller) + ")");
                    }
                });
            return commit(stub(S, entry, inner));
        }
    }

private:
    // The code that hands `inner` the address of the arguments (or of the
    // x87 arguments it stored) and loads EDX or ST(0) from the result cell.
    Code stub(Shape shape, const Entry& entry, uint32_t inner) {
        const uint32_t cell = context_.result_cell;
        Code code(origin(48));
        switch (shape) {
            case Shape::kSt0ToSt0:
            case Shape::kSt0ToEdxEax:
                // sub esp, 8; fstp qword [esp]; push esp
                code.bytes({0x83, 0xEC, 0x08, 0xDD, 0x1C, 0x24, 0x54}).call(inner).bytes({0x83, 0xC4, 0x08});
                break;
            case Shape::kSt1St0ToSt0:
                // sub esp, 16; fstp qword [esp + 8]; fstp qword [esp]; push esp
                code.bytes({0x83, 0xEC, 0x10, 0xDD, 0x5C, 0x24, 0x08, 0xDD, 0x1C, 0x24, 0x54})
                    .call(inner)
                    .bytes({0x83, 0xC4, 0x10});
                break;
            default:
                // lea eax, [esp + 4]; push eax
                code.bytes({0x8D, 0x44, 0x24, 0x04, 0x50}).call(inner);
                break;
        }
        if (shape == Shape::kEdxEax || shape == Shape::kSt0ToEdxEax) {
            code.bytes({0x8B, 0x15}).word(cell + 4);  // mov edx, [cell + 4]
        } else if (shape != Shape::kVarargs) {
            code.bytes({0xDD, 0x05}).word(cell);  // fld qword [cell]
        }
        return code.ret(entry.convention == Convention::kStdcall ? entry.words * 4 : 0);
    }

    // Where the next `size` bytes of code go: a page of the environment's
    // own, which module code may run and read but not write.
    uint32_t origin(uint32_t size) {
        code_used_ = (code_used_ + 15) & ~15u;
        if (code_page_ == 0 || code_used_ + size > kPageSize) {
            code_page_ = machine_.reserve(kPageSize);
            machine_.map(code_page_, kPageSize, EmulatedMachine::kRead | EmulatedMachine::kExecute,
                         "Windows functions' code");
            code_used_ = 0;
        }
        return code_page_ + code_used_;
    }

    uint32_t commit(const Code& code) {
        machine_.load(code.origin(), code.code());
        code_used_ = code.origin() - code_page_ + static_cast<uint32_t>(code.code().size());
        return code.origin();
    }

    EmulatedMachine& machine_;
    Context context_;
    std::map<std::string, uint32_t, std::less<>> bound_;
    std::map<std::string, uint32_t, std::less<>> traps_;
    uint32_t code_page_ = 0;
    uint32_t code_used_ = 0;
};

template <Shape S, typename Row, auto Handler>
uint32_t bind_entry(Binder& binder, const Entry& entry) {
    return binder.bind<S, Row, Handler>(entry);
}

// A Code routine's row says what its code reads from the stack; the module
// pushes nothing for the x87 shapes (their code stores the doubles).
#define WIN32_ENTRY(dll, name, parameters, convention, shape, note) \
    Entry{#dll,                                                     \
          #name,                                                    \
          RowParameters<void parameters>::kWords,                   \
          #parameters,                                              \
          Convention::k##convention,                                \
          Shape::k##shape,                                          \
          &bind_entry<Shape::k##shape, void parameters, &dll##_##name>},
constexpr Entry kEntries[] = {WIN32_FUNCTIONS(WIN32_ENTRY)};
#undef WIN32_ENTRY

struct DataEntry {
    std::string_view dll;
    std::string_view name;
};
#define WIN32_DATA_ENTRY(dll, name, bytes, note) DataEntry{#dll, #name},
constexpr DataEntry kData[] = {WIN32_DATA(WIN32_DATA_ENTRY)};
#undef WIN32_DATA_ENTRY

std::optional<uint32_t> Binder::resolve(std::string_view dll, std::string_view name) {
    const auto provided = provided_dll(dll);
    if (!provided) return std::nullopt;
    const std::string key = function_name(*provided, name);
    if (const auto it = bound_.find(key); it != bound_.end()) return it->second;
    std::optional<uint32_t> address;
    for (const Entry& entry : kEntries) {
        if (entry.dll == *provided && entry.name == name) address = entry.bind(*this, entry);
    }
    for (const DataEntry& entry : kData) {
        if (entry.dll == *provided && entry.name == name) address = context_.data(name);
    }
    if (address) bound_.emplace(key, *address);
    return address;
}

uint32_t Binder::trap(std::string_view dll, std::string_view name, std::string_view why) {
    const std::string key = std::string(dll) + "!" + std::string(name);
    if (const auto it = traps_.find(key); it != traps_.end()) return it->second;
    Context& context = context_;
    const std::string message =
        "call of " + key + ", which the host does not provide" + (why.empty() ? "" : ": " + std::string(why));
    const uint32_t address = machine_.host_routine(
        key, 0, Convention::kStdcall, [&context, key, message](std::span<const uint32_t>) -> uint32_t {
            ++context.calls[key];
            throw GuestFault(GuestFault::Kind::kUnboundImport, 0, 0, message);
        });
    traps_.emplace(key, address);
    return address;
}

}  // namespace binding
}  // namespace win32

struct Win32Environment::Impl : win32::binding::Binder {
    using Binder::Binder;
};

Win32Environment::Win32Environment(EmulatedMachine& machine) : impl_(std::make_unique<Impl>(machine)) {
    machine.set_memory_limit(budget_info(Budget::kGuestMemory).limit);
}
Win32Environment::~Win32Environment() = default;

std::optional<uint32_t> Win32Environment::resolve(std::string_view dll, std::string_view name) {
    return impl_->resolve(dll, name);
}

uint32_t Win32Environment::trap(std::string_view dll, std::string_view name, std::string_view why) {
    return impl_->trap(dll, name, why);
}

bool Win32Environment::provides(std::string_view dll) const { return win32::provided_dll(dll).has_value(); }

void Win32Environment::module_unmapped(uint32_t base) {
    std::erase_if(impl_->context().modules,
                  [base](const win32::Context::Module& module) { return module.base == base; });
}

void Win32Environment::module_mapped(const std::string& name, uint32_t base, uint32_t size,
                                     std::function<std::optional<uint32_t>(std::string_view)> exports) {
    win32::Context& context = impl_->context();
    win32::Context::Module module{win32::base_name(name), base, size, std::move(exports)};
    // A module mapped where another lay replaces it: that one is gone.
    const uint64_t end = uint64_t{base} + std::max<uint32_t>(module.size, 1);
    std::erase_if(context.modules, [&](const win32::Context::Module& old) {
        return old.base < end && base < uint64_t{old.base} + std::max<uint32_t>(old.size, 1);
    });
    context.modules.push_back(std::move(module));
}

void Win32Environment::set_call_observer(CallObserver observer) { impl_->context().observer = std::move(observer); }

void Win32Environment::set_window_query(WindowQuery query) { impl_->context().window_query = std::move(query); }

void Win32Environment::advance_clock(uint64_t microseconds) { impl_->context().elapsed += microseconds; }

void Win32Environment::set_wall_clock(int64_t unix_seconds) {
    win32::Context& context = impl_->context();
    context.wall_offset = unix_seconds * 1'000'000 - static_cast<int64_t>(context.elapsed);
}

const std::map<std::string, uint64_t>& Win32Environment::calls() const { return impl_->context().calls; }
uint64_t Win32Environment::allocations() const { return impl_->context().allocations; }
size_t Win32Environment::live_blocks() const {
    const auto& heap = impl_->context().heap;
    return heap ? heap->blocks() : 0;
}
ResourceUse Win32Environment::resources() const {
    const win32::Context& context = impl_->context();
    ResourceUse use;
    for (const BudgetInfo& info : kBudgets) use.held[static_cast<size_t>(info.budget)] = context.held(info.budget);
    use.refused = context.refused;
    return use;
}
const std::vector<std::string>& Win32Environment::debug_output() const { return impl_->context().debug_output; }
const std::string& Win32Environment::console_output() const { return impl_->context().console; }

}  // namespace emulator

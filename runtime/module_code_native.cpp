// The i386 twin's modules: the twin's own code, loaded with dlopen and run in
// the process, so the module sources' tests run under the sanitizers. A guest
// address is the host address here; the guest memory still names the only
// places a module's pointer may lead: the library's own segments, the
// calling thread's stack and what the host handed the module.
#include <dlfcn.h>
#include <link.h>
#include <pthread.h>
#include <sys/mman.h>

#include <array>
#include <cstring>
#include <exception>
#include <memory>
#include <stdexcept>

#include "frame/calling_convention.h"
#include "runtime/coverage.h"
#include "runtime/debugging.h"
#include "runtime/host.h"
#include "runtime/module_code.h"

static_assert(sizeof(void*) == 4, "the twin runs its modules in an i386 process");

namespace runtime {
namespace {

uint32_t address_of(const void* pointer) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer)); }

template <typename T>
T at(uint32_t address) {
    return reinterpret_cast<T>(static_cast<uintptr_t>(address));
}

uint16_t control_word() {
    uint16_t word = 0;
    asm volatile("fnstcw %0" : "=m"(word));
    return word;
}

uint32_t mxcsr() {
    uint32_t word = 0;
    asm volatile("stmxcsr %0" : "=m"(word));
    return word;
}

class NativeMachine;

// Routines module code calls are plain functions here, made at compile time:
// a pool of entries per argument count and convention, each serving the
// routine installed in its place.
constexpr size_t kPoolSize = 512;
constexpr uint32_t kMaxWords = 4;

struct Installed {
    NativeMachine* machine = nullptr;
    emulator::Machine::HostRoutine serve;
};
Installed g_pool[kMaxWords + 1][2][kPoolSize];

uint32_t serve_entry(uint32_t words, emulator::Convention convention, size_t index, const uint32_t* args) noexcept;

template <emulator::Convention C, size_t I, typename... W>
struct Entry;
template <size_t I, typename... W>
struct Entry<emulator::Convention::kStdcall, I, W...> {
    static uint32_t GAUGE_CALL call(W... words) noexcept {
        const uint32_t args[] = {words..., 0};
        return serve_entry(sizeof...(W), emulator::Convention::kStdcall, I, args);
    }
};
template <size_t I, typename... W>
struct Entry<emulator::Convention::kCdecl, I, W...> {
    static uint32_t call(W... words) noexcept {
        const uint32_t args[] = {words..., 0};
        return serve_entry(sizeof...(W), emulator::Convention::kCdecl, I, args);
    }
};

template <emulator::Convention C, typename... W, size_t... I>
constexpr auto entries_of(std::index_sequence<I...>) {
    return std::array<decltype(&Entry<C, 0, W...>::call), kPoolSize>{&Entry<C, I, W...>::call...};
}

template <size_t N, typename... W>
struct Words : Words<N - 1, uint32_t, W...> {};
template <typename... W>
struct Words<0, W...> {
    template <emulator::Convention C>
    static uint32_t entry(size_t index) {
        static const auto table = entries_of<C, W...>(std::make_index_sequence<kPoolSize>{});
        return address_of(reinterpret_cast<const void*>(table[index]));
    }
};

uint32_t entry_address(uint32_t words, emulator::Convention convention, size_t index) {
    const bool cdecl = convention == emulator::Convention::kCdecl;
    switch (words) {
        case 0:
            return cdecl ? Words<0>::entry<emulator::Convention::kCdecl>(index)
                         : Words<0>::entry<emulator::Convention::kStdcall>(index);
        case 1:
            return cdecl ? Words<1>::entry<emulator::Convention::kCdecl>(index)
                         : Words<1>::entry<emulator::Convention::kStdcall>(index);
        case 2:
            return cdecl ? Words<2>::entry<emulator::Convention::kCdecl>(index)
                         : Words<2>::entry<emulator::Convention::kStdcall>(index);
        case 3:
            return cdecl ? Words<3>::entry<emulator::Convention::kCdecl>(index)
                         : Words<3>::entry<emulator::Convention::kStdcall>(index);
        default:
            return cdecl ? Words<4>::entry<emulator::Convention::kCdecl>(index)
                         : Words<4>::entry<emulator::Convention::kStdcall>(index);
    }
}

class NativeMachine : public emulator::Machine {
public:
    explicit NativeMachine(uint32_t arena_size) : arena_size_(arena_size) {
        void* arena = mmap(nullptr, arena_size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (arena == MAP_FAILED) throw std::bad_alloc();
        arena_ = static_cast<uint8_t*>(arena);
        memory_.add({address_of(arena_), arena_size_, arena_, true, "host memory"});
        pthread_attr_t attributes;
        if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
            void* stack = nullptr;
            size_t size = 0;
            if (pthread_attr_getstack(&attributes, &stack, &size) == 0) {
                memory_.add(
                    {address_of(stack), static_cast<uint32_t>(size), static_cast<uint8_t*>(stack), true, "the stack"});
            }
            pthread_attr_destroy(&attributes);
        }
    }
    ~NativeMachine() override {
        for (auto& by_words : g_pool) {
            for (auto& by_convention : by_words) {
                for (Installed& installed : by_convention) {
                    if (installed.machine == this) installed = {};
                }
            }
        }
        munmap(arena_, arena_size_);
    }

    uint32_t call(uint32_t code, std::span<const uint32_t> args, emulator::Convention convention) override {
        return run<uint32_t>([&] { return invoke<uint32_t>(code, args, convention); });
    }
    double call_double(uint32_t code, std::span<const uint32_t> args, emulator::Convention convention) override {
        return run<double>([&] { return invoke<double>(code, args, convention); });
    }
    const emulator::CallReport& last_call() const override { return report_; }

    uint32_t allocate(uint32_t size) override {
        const uint32_t rounded = (size + 7u) & ~7u;
        if (rounded < size || arena_size_ - used_ < rounded) throw std::bad_alloc();
        const uint32_t address = address_of(arena_ + used_);
        used_ += rounded;
        return address;
    }

    uint32_t host_routine(const std::string& name, uint32_t arg_words, emulator::Convention convention,
                          HostRoutine serve) override {
        if (arg_words > kMaxWords) throw std::invalid_argument(name + ": more arguments than the twin's entries take");
        auto& pool = g_pool[arg_words][convention == emulator::Convention::kCdecl];
        for (size_t index = 0; index < kPoolSize; ++index) {
            if (pool[index].machine != nullptr) continue;
            pool[index] = {this, std::move(serve)};
            return entry_address(arg_words, convention, index);
        }
        throw std::runtime_error(name + ": the twin's routine entries are all in use");
    }

    void add_region(emulator::Region region) { memory_.add(std::move(region)); }

    // What a routine raised: module code cannot pass it on, so it waits until
    // the outermost call has returned.
    void keep(std::exception_ptr error) {
        if (!pending_) pending_ = std::move(error);
    }

private:
    template <typename R, typename Call>
    R run(Call call) {
        const uint16_t cw = control_word();
        const uint32_t csr = mxcsr();
        ++depth_;
        R result = call();
        --depth_;
        report_.control_word_kept = control_word() == cw;
        report_.mxcsr_kept = mxcsr() == csr;
        if (depth_ == 0 && pending_) std::rethrow_exception(std::exchange(pending_, nullptr));
        return result;
    }

    template <typename R>
    static R invoke(uint32_t code, std::span<const uint32_t> a, emulator::Convention convention) {
        if (convention == emulator::Convention::kCdecl) {
            switch (a.size()) {
                case 0: return at<R (*)()>(code)();
                case 1: return at<R (*)(uint32_t)>(code)(a[0]);
                case 2: return at<R (*)(uint32_t, uint32_t)>(code)(a[0], a[1]);
                case 3: return at<R (*)(uint32_t, uint32_t, uint32_t)>(code)(a[0], a[1], a[2]);
                default: return at<R (*)(uint32_t, uint32_t, uint32_t, uint32_t)>(code)(a[0], a[1], a[2], a[3]);
            }
        }
        switch (a.size()) {
            case 0: return at<R(GAUGE_CALL*)()>(code)();
            case 1: return at<R(GAUGE_CALL*)(uint32_t)>(code)(a[0]);
            case 2: return at<R(GAUGE_CALL*)(uint32_t, uint32_t)>(code)(a[0], a[1]);
            case 3: return at<R(GAUGE_CALL*)(uint32_t, uint32_t, uint32_t)>(code)(a[0], a[1], a[2]);
            default: return at<R(GAUGE_CALL*)(uint32_t, uint32_t, uint32_t, uint32_t)>(code)(a[0], a[1], a[2], a[3]);
        }
    }

    uint8_t* arena_ = nullptr;
    uint32_t arena_size_ = 0;
    uint32_t used_ = 0;
    int depth_ = 0;
    std::exception_ptr pending_;
    emulator::CallReport report_;
};

uint32_t serve_entry(uint32_t words, emulator::Convention convention, size_t index, const uint32_t* args) noexcept {
    Installed& installed = g_pool[words][convention == emulator::Convention::kCdecl][index];
    if (installed.machine == nullptr) return 0;
    try {
        return installed.serve(std::span<const uint32_t>(args, words));
    } catch (...) {
        installed.machine->keep(std::current_exception());
        return 0;
    }
}

// The library's loaded segments, writable where the loader left them so:
// RELRO data is read-only once relocated.
struct Segments {
    uintptr_t load_address = 0;
    std::vector<emulator::Region> regions;
    std::vector<CodeSection> sections;
};

int collect_segments(dl_phdr_info* info, size_t, void* data) {
    auto* segments = static_cast<Segments*>(data);
    if (info->dlpi_addr != segments->load_address) return 0;
    uintptr_t relro_start = 0, relro_end = 0;
    for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& header = info->dlpi_phdr[i];
        if (header.p_type == PT_GNU_RELRO) {
            relro_start = info->dlpi_addr + header.p_vaddr;
            relro_end = relro_start + header.p_memsz;
        }
    }
    for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& header = info->dlpi_phdr[i];
        if (header.p_type != PT_LOAD) continue;
        uintptr_t start = info->dlpi_addr + header.p_vaddr;
        const uintptr_t end = start + header.p_memsz;
        const bool writable = (header.p_flags & PF_W) != 0;
        segments->sections.push_back(
            {static_cast<uint32_t>(start), static_cast<uint32_t>(end), (header.p_flags & PF_X) != 0});
        auto add = [&](uintptr_t from, uintptr_t to, bool write) {
            if (to > from) {
                segments->regions.push_back({static_cast<uint32_t>(from), static_cast<uint32_t>(to - from),
                                             reinterpret_cast<uint8_t*>(from), write, "the module's segment"});
            }
        };
        if (writable && relro_end > start && relro_start < end) {
            add(start, std::max(start, relro_start), true);
            add(std::max(start, relro_start), std::min(end, relro_end), false);
            start = std::min(end, relro_end);
        }
        add(start, end, writable);
    }
    return 1;
}

class NativeCode : public ModuleCode {
public:
    explicit NativeCode(const std::string& path) : machine_(16u << 20) {
        // A path without a slash would send dlopen searching the library path.
        const std::string explicit_path = path.find('/') == std::string::npos ? "./" + path : path;
        handle_ = dlopen(explicit_path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle_ == nullptr) {
            const char* message = dlerror();
            throw ModuleError(path + ": not a loadable library (" + (message != nullptr ? message : "unknown error") +
                              ")");
        }
        link_map* map = nullptr;
        if (dlinfo(handle_, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr) {
            Segments segments;
            segments.load_address = map->l_addr;
            dl_iterate_phdr(collect_segments, &segments);
            for (emulator::Region& region : segments.regions) machine_.add_region(std::move(region));
            sections_ = std::move(segments.sections);
        }
    }
    ~NativeCode() override { dlclose(handle_); }

    emulator::Machine& machine() override { return machine_; }
    std::optional<uint32_t> export_address(std::string_view name) const override {
        void* address = dlsym(handle_, std::string(name).c_str());
        if (address == nullptr) return std::nullopt;
        return address_of(address);
    }
    // Only a symbol that starts at the address describes the record.
    std::optional<uint32_t> record_extent(uint32_t address) const override {
        Dl_info info{};
        void* extra = nullptr;
        void* pointer = at<void*>(address);
        if (dladdr1(pointer, &info, &extra, RTLD_DL_SYMENT) == 0 || extra == nullptr || info.dli_saddr != pointer) {
            return std::nullopt;
        }
        const auto* symbol = static_cast<const ElfW(Sym)*>(extra);
        if (symbol->st_size == 0) return std::nullopt;
        return static_cast<uint32_t>(symbol->st_size);
    }
    std::vector<CodeSection> sections() const override { return sections_; }
    std::shared_ptr<const emulator::PeImage> own_resources() const override { return nullptr; }
    std::vector<ModuleLibrary> libraries() const override { return {}; }
    std::vector<std::string> unbound_imports() const override { return {}; }
    std::vector<std::pair<std::string, uint64_t>> import_calls() const override { return {}; }
    uint64_t allocations() const override { return 0; }
    std::optional<emulator::ResourceUse> resources() const override { return std::nullopt; }

private:
    NativeMachine machine_;
    void* handle_ = nullptr;
    std::vector<CodeSection> sections_;
};

}  // namespace

// The twin's code runs natively: nothing counts its instructions.
uint64_t instructions_run(const emulator::Machine&) { return 0; }
uint64_t emulator_entries(const emulator::Machine&) { return 0; }

std::unique_ptr<ModuleCode> load_module_code(const std::string& path, WindowQuery) {
    return std::make_unique<NativeCode>(path);
}

// The twin's module code runs natively: nothing a debugger could stop.
void make_stub(const std::string&, std::function<void(const std::string&)>, NextConnection) {
    throw std::runtime_error("--gdb: the twin runs module code natively; debug it with gdb itself");
}
bool wait_for_debugger() { return false; }
void start_coverage() { throw std::runtime_error("--coverage: the twin runs module code natively; use gcov there"); }
std::string coverage_tracefile(const std::string&, const SourceFilter&, std::vector<std::string>&, CoverageSummary&) {
    return {};
}
bool debugger_started() { return false; }
void end_debugger(int) {}
void observe_debugger(std::function<void(const std::string&)>, std::function<void()>) {}

// Native calls cost no entry: nothing to gather.
void run_module_calls_together(void (*work)(void*), void* context) { work(context); }

}  // namespace runtime

namespace {
// Stands for the window's handle; only its being non-null matters.
char g_window_handle;
}  // namespace

// The twin's stand-in for user32's FindWindowA: it answers from the active
// host's windows. Exported by every executable that hosts modules, so that
// the twins resolve it from there.
extern "C" void* GAUGE_CALL FindWindowA(const char* window_class, const char* title) noexcept {
    runtime::Host* host = runtime::Host::active();
    if (host == nullptr) return nullptr;
    std::optional<std::string> c, t;
    if (window_class != nullptr) c = window_class;
    if (title != nullptr) t = title;
    return host->has_window(c, t) ? &g_window_handle : nullptr;
}

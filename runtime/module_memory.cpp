#include "runtime/module_memory.h"

#include "runtime/module_code.h"

namespace runtime {

ModuleFault module_fault(const emulator::GuestFault& fault) {
    return ModuleFault(fault.kind(), fault.address(), fault.pc(), fault.what());
}

emulator::GuestFault guest_fault(const ModuleFault& fault) {
    return emulator::GuestFault(fault.kind(), fault.address(), fault.pc(),
                                fault.what());
}

bool is_module_fault(const std::exception& error) {
    return dynamic_cast<const ModuleFault*>(&error) != nullptr ||
           dynamic_cast<const emulator::GuestFault*>(&error) != nullptr;
}

bool is_stopped_call(const std::exception& error) {
    return dynamic_cast<const emulator::CallStopped*>(&error) != nullptr;
}

const uint8_t* ModuleMemory::bytes(uint32_t address, uint64_t size) const {
    const emulator::GuestMemory& memory = *memory_;
    try {
        if (size > UINT32_MAX) {
            // No region holds so much; said as the memory says it of any view
            // no region holds.
            throw ModuleFault(
                ModuleFault::Kind::kRead, address, 0,
                std::to_string(size) + " bytes at " + emulator::hex(address) + " lie outside the module's memory");
        }
        return memory.read_array(frame::GuestPtr<const uint8_t>(address), static_cast<uint32_t>(size)).data();
    } catch (const emulator::GuestFault& fault) {
        throw module_fault(fault);
    }
}

std::string ModuleMemory::read_string(frame::GuestPtr<const char> pointer, size_t max) const {
    try {
        return memory_->read_string(pointer, max);
    } catch (const emulator::GuestFault& fault) {
        throw module_fault(fault);
    }
}

bool ModuleMemory::readable(uint32_t address, uint32_t size) const { return memory_->readable(address, size); }

double needle_callback_value(const Module& module, frame::GuestPtr<guest::ELEMENT_NEEDLE> needle, double reading) {
    emulator::GuestMemory& memory = module.memory();
    try {
        const guest::NeedleCallback callback = memory.read(needle).update_callback;
        if (!callback) throw std::invalid_argument("needle_callback_value: the needle has no callback");
        const double saved = memory.read(needle).source.value;
        memory.write(needle).source.value = reading;
        const uint32_t args[] = {needle.address};
        double value = 0.0;
        try {
            value = module.machine().call_double(callback.address, args, emulator::Convention::kStdcall);
        } catch (const emulator::GuestFault&) {
            memory.write(needle).source.value = saved;
            throw;
        }
        memory.write(needle).source.value = saved;
        return value;
    } catch (const emulator::GuestFault& fault) {
        throw module_fault(fault);
    }
}

}  // namespace runtime

#include "runtime/variables.h"

namespace runtime {

double VariableStore::get(uint32_t token) const {
    auto it = tokens_.find(token);
    return it == tokens_.end() ? 0.0 : it->second;
}

void VariableStore::set(uint32_t token, double value) { tokens_[token] = value; }

double VariableStore::get(const std::string& name) const {
    auto it = named_.find(name);
    if (it != named_.end()) return it->second;
    read_unset_.insert(name);
    return 0.0;
}

void VariableStore::set(const std::string& name, double value) { named_[name] = value; }

}  // namespace runtime
